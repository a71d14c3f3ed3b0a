#include "transport.h"

#include "serialtransport.h"
#include "tcptransport.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

class RealClock : public LinkClock
{
public:
    RealClock() { timer.start(); }
    qint64 nowUs() override { return timer.nsecsElapsed() / 1000; }
    void sleepUs(qint64 us) override
    {
        if (us > 0)
            QThread::usleep(quint64(us));
    }

private:
    QElapsedTimer timer;
};

} // namespace

LinkClock &LinkClock::real()
{
    static RealClock clock;
    return clock;
}

std::unique_ptr<Transport> Transport::fromPortText(const QString &text, QString *error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    error->clear();
    const int sep = text.indexOf(QLatin1String("://"));
    if (sep < 0) {
        if (text.isEmpty()) {
            *error = QStringLiteral("no port given");
            return nullptr;
        }
        return std::make_unique<SerialTransport>(text);
    }
    const QString scheme = text.left(sep).toLower();
    if (scheme != QLatin1String("tcp") && scheme != QLatin1String("modbus-tcp")) {
        *error = QStringLiteral("unknown kind of port \"%1://\"; use a serial port, tcp://HOST:PORT (RTU over TCP) "
                                "or modbus-tcp://HOST:PORT (Modbus TCP)")
                     .arg(text.left(sep));
        return nullptr;
    }
    Endpoint endpoint;
    if (!Endpoint::parse(text.mid(sep + 3), scheme, text, &endpoint, error))
        return nullptr;
    if (scheme == QLatin1String("tcp"))
        return std::make_unique<TcpTransport>(endpoint);
    return std::make_unique<ModbusTcpTransport>(endpoint);
}
