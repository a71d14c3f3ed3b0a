// Cost of the traffic monitor per frame: decoding (registers by name and
// unit) and recording in the ring, for the frames of a full read cycle and a
// 48-register block write, against the time those frames take on a 9600
// baud line.
//
//   bench_decode [--rounds N]
#include "command.h"
#include "trafficlog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>

namespace {

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Modbus::crc16(reinterpret_cast<const quint8 *>(frame.constData()), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray registers(std::initializer_list<int> head, int words)
{
    QByteArray b;
    for (int v : head)
        b.append(char(v));
    for (int i = 0; i < words; ++i) {
        b.append(char(0x01));
        b.append(char(i));
    }
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 20000;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--rounds"));
    if (at > 0 && at + 1 < args.size())
        rounds = qMax(1, args[at + 1].toInt());

    Command link;
    link.DeviceParams.Config = 0x0012;
    // Requests and replies of a read cycle and a block write, sent (true) or
    // received (false).
    const QByteArray ident = QByteArray::fromHex("012B0E0102000003000556656C74610104544C3032020431" "2E3036");
    const QList<QPair<bool, QByteArray>> frames = {
        {true, withCrc(QByteArray::fromHex("012B000100"))},
        {false, withCrc(ident)},
        {true, withCrc(QByteArray::fromHex("010310000030"))},
        {false, withCrc(registers({1, 3, 96}, 48))},
        {true, withCrc(QByteArray::fromHex("01040000000A"))},
        {false, withCrc(registers({1, 4, 20}, 10))},
        {true, withCrc(registers({1, 16, 0x10, 0x00, 0, 48, 96}, 48))},
        {false, withCrc(QByteArray::fromHex("011010000030"))},
    };
    qint64 bytes = 0;
    for (const auto &f : frames)
        bytes += f.second.size();

    TrafficRecorder rec(link);
    QElapsedTimer clock;
    clock.start();
    for (int r = 0; r < rounds; ++r) {
        for (const auto &f : frames)
            rec.onBytes(f.first, f.second);
        rec.onAttemptEnded(ResultOk);
    }
    const double ns = double(clock.nsecsElapsed());
    const double perFrame = ns / (double(rounds) * frames.size()) / 1000.0;
    const double wirePerFrame = double(bytes) * 10.0 / 9600.0 * 1e6 / frames.size();
    std::printf("frames decoded and recorded: %d (ring holds %d)\n", rounds * int(frames.size()), rec.ring().size());
    std::printf("per frame: %.1f us; the same frames take %.0f us each on the line at 9600 baud (%.2f%%)\n",
                perFrame, wirePerFrame, 100.0 * perFrame / wirePerFrame);
    return 0;
}
