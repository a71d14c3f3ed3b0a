// Drives tl02-sim the way a serial terminal would: the pty is opened with
// plain POSIX calls and fed hand-written frames (CRC bytes worked out by
// hand); the control channel is the simulator's stdin/stdout. Its TCP
// listeners get raw bytes through a QTcpSocket.

#include "simprocess.h"
#include "testframes.h"

#include <QtTest>
#include <QTcpSocket>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray bytes(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

// Reply CRCs are checked independently of the link's code.
using TestFrames::crcOk;
using TestFrames::withCrc;

quint16 word(const QByteArray &reply, int index)   // index-th data word of a 3/4 reply
{
    return quint16((quint8(reply.at(3 + 2 * index)) << 8) | quint8(reply.at(4 + 2 * index)));
}

// The pty slave opened raw at 9600 baud, non-blocking; -1 on failure.
int openRawPty(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Everything that arrives on fd until `gapMs` of silence; empty if nothing in `firstMs`.
QByteArray readReply(int fd, int firstMs = 500, int gapMs = 50)
{
    QByteArray got;
    int wait = firstMs;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0)
            return got;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, int(n));
        wait = gapMs;
    }
}

class Sim {
public:
    ~Sim()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }

    bool start(const QStringList &args)
    {
        m_proc.setProcessChannelMode(QProcess::SeparateChannels);
        m_proc.setReadChannel(QProcess::StandardOutput);
        m_proc.start(QStringLiteral(TL_SIM_PATH), args);
        if (!m_proc.waitForStarted(5000))
            return false;
        const QString first = nextLine(5000);
        if (!first.startsWith("PORT "))
            return false;
        port = first.mid(5);
        m_fd = openRawPty(port);
        return m_fd >= 0;
    }

    void send(const QByteArray &frame) { QCOMPARE(::write(m_fd, frame.constData(), size_t(frame.size())), ssize_t(frame.size())); }

    QByteArray reply(int firstMs = 500, int gapMs = 50) { return readReply(m_fd, firstMs, gapMs); }

    // Exactly n bytes, or what came within ms.
    QByteArray readCount(int n, int ms)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < ms) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(ms - t.elapsed())) <= 0)
                break;
            char buf[512];
            const ssize_t k = ::read(m_fd, buf, size_t(qMin<int>(n - got.size(), int(sizeof buf))));
            if (k > 0)
                got.append(buf, int(k));
        }
        return got;
    }

    QByteArray exchange(const QByteArray &frame)
    {
        send(frame);
        return reply();
    }

    // Sends a control line; true on its OK, false on ERR or silence. The
    // lines that came before the answer go to `before` (and to the log).
    bool command(const QString &cmd, QStringList *before = nullptr)
    {
        m_proc.write((cmd + "\n").toUtf8());
        m_proc.waitForBytesWritten(1000);
        for (;;) {
            const QString line = nextLine(5000);
            if (line.isNull())
                return false;
            if (line == "OK " + cmd)
                return true;
            if (line == "ERR " + cmd)
                return false;
            if (before)
                *before << line;
            log << line;
        }
    }

    QStringList control(const QString &cmd)
    {
        QStringList before;
        if (!command(cmd, &before))
            before << "FAILED";
        return before;
    }

    // Waits for a line beginning with prefix; remembers every line read.
    QString waitFor(const QString &prefix, int ms = 2000)
    {
        QElapsedTimer t;
        t.start();
        for (const QString &l : qAsConst(log))
            if (l.startsWith(prefix))
                return l;
        while (t.elapsed() < ms) {
            const QString line = nextLine(int(ms - t.elapsed()));
            if (line.isNull())
                break;
            log << line;
            if (line.startsWith(prefix))
                return line;
        }
        return {};
    }

    QString nextLine(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!m_proc.canReadLine()) {
            if (t.elapsed() >= ms || !m_proc.waitForReadyRead(int(qMax<qint64>(1, ms - t.elapsed()))))
                if (!m_proc.canReadLine())
                    return {};
        }
        return QString::fromUtf8(m_proc.readLine()).trimmed();
    }

    QProcess m_proc;
    QString port;
    QStringList log;
    int m_fd = -1;
};

// A raw client of one of the simulator's TCP listeners ("127.0.0.1:NNNNN").
struct TcpClient {
    QTcpSocket socket;

    bool connectTo(const QString &hostPort)
    {
        socket.connectToHost(hostPort.section(':', 0, 0), quint16(hostPort.section(':', 1).toUInt()));
        if (!socket.waitForConnected(5000))
            return false;
        // Each write goes out at once, not held back waiting for an acknowledgement.
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    void send(const QByteArray &b)
    {
        socket.write(b);
        socket.waitForBytesWritten(1000);
    }
    QByteArray reply(int firstMs = 500, int gapMs = 50)
    {
        QByteArray got = socket.readAll();
        for (int wait = got.isEmpty() ? firstMs : gapMs; socket.waitForReadyRead(wait); wait = gapMs)
            got += socket.readAll();
        return got + socket.readAll();
    }
    QByteArray exchange(const QByteArray &b)
    {
        send(b);
        return reply();
    }
};

// What a line delivered within windowMs, and the longest stretch without a
// byte (the start of the window and its end count as arrivals). read(ms)
// returns what comes within ms, empty if nothing.
struct Arrivals {
    QByteArray bytes;
    qint64 longestGapMs = 0;
};
Arrivals watch(const std::function<QByteArray(int)> &read, int windowMs)
{
    Arrivals a;
    QElapsedTimer t;
    t.start();
    qint64 last = 0;
    for (qint64 left = windowMs; left > 0; left = windowMs - t.elapsed()) {
        const QByteArray got = read(int(left));
        if (got.isEmpty())
            continue;
        a.bytes += got;
        a.longestGapMs = qMax(a.longestGapMs, t.elapsed() - last);
        last = t.elapsed();
    }
    a.longestGapMs = qMax(a.longestGapMs, t.elapsed() - last);
    return a;
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void inputRegistersFollowCalibrationLine();
    void holdingRegistersShareDeviceMemory();
    void commandRegister();
    void identification();
    void bootloaderFlashAndDump();
    void faultsAndLineNoise();
    void pacingLinkAndShutdown();
    void linkReplacesNothingItDidNotMake();
    void fewerRegistersFault();
    void endsWithItsParent();
    void rtuOverTcp();
    void modbusTcp();
    void babbleJamsTheLine();
    void multiDropLine();
    void multiDropDeviceFileAndRefusals();
};

void TestSim::inputRegistersFollowCalibrationLine()
{
    Sim sim;
    QVERIFY(sim.start({}));

    const QByteArray req = bytes("01 04 00 00 00 0A 70 0D");
    QByteArray r = sim.exchange(req);
    QCOMPARE(r.size(), 25);
    QVERIFY(crcOk(r));
    QCOMPARE(r.left(3), bytes("01 04 14"));
    QCOMPARE(word(r, 4), quint16(1));
    QVERIFY(qAbs(int(word(r, 0)) - 8240) <= 3);   // clean-air level with a little noise
    QStringList lines = sim.control("get input 4");
    QVERIFY(lines.contains("RX 01040000000A700D"));
    QVERIFY(lines.contains("TX " + r.toHex().toUpper()));
    QVERIFY(lines.contains("INPUT 4 1"));

    // Mid-range sensor code: 8000..40000 maps onto 0..1000, 4..20 mA, PWM 1000..5000.
    QVERIFY(sim.command("set input 0 24000"));
    r = sim.exchange(req);
    QCOMPARE(r.size(), 25);
    QCOMPARE(word(r, 0), quint16(24000));
    QCOMPARE(word(r, 1), quint16(12000));
    QCOMPARE(word(r, 2), quint16(500));
    QCOMPARE(word(r, 3), quint16(3000));

    // Simulation switch on: the device works from ImmitConc (40000 = top of the range).
    QCOMPARE(sim.exchange(bytes("01 10 10 19 00 02 04 00 01 9C 40 C6 39")), bytes("01 10 10 19 00 02 94 CF"));
    r = sim.exchange(req);
    QCOMPARE(word(r, 1), quint16(20000));
    QCOMPARE(word(r, 2), quint16(1000));
    QCOMPARE(word(r, 3), quint16(5000));

    QVERIFY(!sim.command("get input 99"));
}

void TestSim::holdingRegistersShareDeviceMemory()
{
    Sim sim;
    QVERIFY(sim.start({"--address", "1"}));

    QByteArray r = sim.exchange(bytes("01 03 10 00 00 30 41 1E"));
    QCOMPARE(r.size(), 101);
    QVERIFY(crcOk(r));
    QCOMPARE(r.left(3), bytes("01 03 60"));
    QCOMPARE(word(r, 0x00), quint16(8000));
    QCOMPARE(word(r, 0x01), quint16(40000));
    QCOMPARE(word(r, 0x04), quint16(1000));
    QCOMPARE(word(r, 0x08), quint16(0x0010));
    QCOMPARE(word(r, 0x0D), quint16(0x7B00));   // NetSpeed 0, low byte of HWVersion 123
    QCOMPARE(word(r, 0x0E), quint16(0x0001));   // NetAddress 1
    QCOMPARE(word(r, 0x0F), quint16(4711));
    QCOMPARE(word(r, 0x1B), quint16(123));

    // 0x100D sits on NetSpeed and the low byte of HWVersion: writing it moves both neighbours.
    QCOMPARE(sim.exchange(bytes("01 06 10 0D 02 45 DC 5A")), bytes("01 06 10 0D 02 45 DC 5A"));
    r = sim.exchange(bytes("01 03 10 0D 00 02 51 08"));
    QCOMPARE(r.size(), 9);
    QCOMPARE(word(r, 0), quint16(0x0245));
    QCOMPARE(word(r, 1), quint16(0x4501));
    r = sim.exchange(bytes("01 03 10 1B 00 01 F0 CD"));
    QCOMPARE(word(r, 0), quint16(0x0002));

    // Outside the map and empty reads are refused.
    QCOMPARE(sim.exchange(bytes("01 03 0F FF 00 02 F7 2F")), bytes("01 83 02 C0 F1"));
    QCOMPARE(sim.exchange(bytes("01 03 10 00 00 00 41 0A")), bytes("01 83 03 01 31"));
}

void TestSim::commandRegister()
{
    Sim sim;
    QVERIFY(sim.start({}));

    QCOMPARE(sim.exchange(bytes("01 10 10 20 00 01 02 60 60 98 D9")), bytes("01 10 10 20 00 01 04 C3"));
    QVERIFY(sim.control("get input 9").contains("CMD 6060"));

    QCOMPARE(sim.exchange(bytes("01 10 10 20 00 01 02 20 02 28 F0")).size(), 8);
    QVERIFY(sim.control("get input 9").contains("INPUT 9 256"));

    // A block write that covers 0x1020 stores the value; it is no command.
    const QByteArray block = sim.exchange(bytes("01 03 10 00 00 30 41 1E"));
    QCOMPARE(block.size(), 101);
    QByteArray data = block.mid(3, 96);
    data[2 * 0x20] = char(0x55);
    data[2 * 0x20 + 1] = char(0x55);
    QCOMPARE(sim.exchange(withCrc(bytes("01 10 10 00 00 30 60") + data)), bytes("01 10 10 00 00 30 C4 DD"));
    QStringList lines = sim.control("get input 4");
    QVERIFY(lines.contains("INPUT 4 1"));
    QVERIFY(!lines.join('\n').contains("CMD"));
    QVERIFY(!lines.join('\n').contains("MODE"));
    QVERIFY(sim.control("get holding 0x1020").contains("HOLDING 1020 21845"));

    // Written alone, 0x5555 switches to the bootloader.
    QCOMPARE(sim.exchange(bytes("01 10 10 20 00 01 02 55 55 4F 9E")).size(), 8);
    lines = sim.control("get input 4");
    QVERIFY(lines.contains("CMD 5555"));
    QVERIFY(lines.contains("MODE bootloader"));
    QVERIFY(lines.contains("INPUT 4 999"));
}

void TestSim::identification()
{
    Sim sim;
    QVERIFY(sim.start({"--version", "1.05"}));

    QByteArray r = sim.exchange(bytes("01 2B 00 01 00 11 B4"));
    QVERIFY(crcOk(r));
    QCOMPARE(r.left(8), bytes("01 2B 0E 01 02 00 00 03"));
    QCOMPARE(r.mid(8, r.size() - 10), QByteArray("\x00\x05Velta\x01\x04TL02\x02\x04" "1.05", 19));

    r = sim.exchange(bytes("01 2B 00 02 00 11 44"));
    QVERIFY(crcOk(r));
    QCOMPARE(quint8(r.at(7)), quint8(6));   // objects 3..8
    QCOMPARE(quint8(r.at(8)), quint8(3));
    QVERIFY(r.contains(QByteArray("\x05\x05TL-02", 7)));

    QVERIFY(sim.command("set ident 5 TL-02 mk2"));
    r = sim.exchange(bytes("01 2B 00 02 00 11 44"));
    QVERIFY(r.contains(QByteArray("\x05\x09TL-02 mk2", 11)));
}

void TestSim::bootloaderFlashAndDump()
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("flash.bin");
    Sim sim;
    QVERIFY(sim.start({"--bootloader", "--dump", dump}));

    // The bootloader answers reads and blocks at address 0.
    QByteArray r = sim.exchange(bytes("00 04 00 00 00 0A 71 DC"));
    QCOMPARE(r.size(), 25);
    QCOMPARE(word(r, 4), quint16(999));

    QCOMPARE(sim.exchange(bytes("00 0E 08 00 1C 00 03 AA BB CC 6D 5C")), bytes("00 0E 08 00 1C 00 03 7A 28"));
    QCOMPARE(sim.exchange(bytes("00 0E 08 00 1C 05 01 DD 78 DB")), bytes("00 0E 08 00 1C 05 01 F8 B9"));
    QCOMPARE(sim.exchange(bytes("00 0E 08 04 00 00 01 00 5E D3")), bytes("00 8E 02 95 A1"));

    // Broadcast restart: carried out, not answered.
    sim.send(bytes("00 10 10 20 00 01 02 60 60 95 49"));
    QCOMPARE(sim.reply(200), QByteArray());
    QVERIFY(sim.control("dump").contains("MODE detector"));
    QFile f(dump);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes("AA BB CC FF FF DD"));

    r = sim.exchange(bytes("01 04 00 00 00 0A 70 0D"));
    QCOMPARE(word(r, 4), quint16(1));
}

void TestSim::faultsAndLineNoise()
{
    Sim sim;
    QVERIFY(sim.start({}));
    const QByteArray req = bytes("01 04 00 00 00 0A 70 0D");

    sim.send("DEACTIV");
    QCOMPARE(sim.waitFor("RAW "), QString("RAW 44454143544956"));
    QCOMPARE(sim.reply(100), QByteArray());

    sim.send(bytes("01 04 00 00 00 0A 70 0C"));
    QCOMPARE(sim.waitFor("RXBAD "), QString("RXBAD 01040000000A700C"));
    QCOMPARE(sim.reply(100), QByteArray());

    QVERIFY(sim.command("fault badcrc 1 1"));
    QVERIFY(crcOk(sim.exchange(req)));
    QByteArray r = sim.exchange(req);
    QCOMPARE(r.size(), 25);
    QVERIFY(!crcOk(r));
    QVERIFY(crcOk(sim.exchange(req)));

    QVERIFY(sim.command("fault noreply 1"));
    QCOMPARE(sim.exchange(req), QByteArray());
    QCOMPARE(sim.exchange(req).size(), 25);

    QVERIFY(sim.command("fault exception 4 1"));
    QCOMPARE(sim.exchange(req), bytes("01 84 04 42 C3"));

    QVERIFY(sim.command("fault mismatch 1"));
    r = sim.exchange(req);
    QVERIFY(crcOk(r));
    QVERIFY(quint8(r.at(2)) > r.size() - 5);

    QVERIFY(sim.command("fault short 1"));
    QCOMPARE(sim.exchange(req), bytes("01 04"));

    // Two pieces: a 30 ms reader sees only the first half, then the rest.
    QVERIFY(sim.command("fault split 120 1"));
    sim.send(req);
    QCOMPARE(sim.reply(500, 30).size(), 12);
    QCOMPARE(sim.reply(500, 30).size(), 13);

    QVERIFY(sim.command("fault noreply -1"));
    QCOMPARE(sim.exchange(req), QByteArray());
    QCOMPARE(sim.exchange(req), QByteArray());
    QVERIFY(sim.command("fault clear"));
    QCOMPARE(sim.exchange(req).size(), 25);

    QVERIFY(!sim.command("fault sometimes 1"));
    QVERIFY(!sim.command("set holding 0x2000 1"));
}

void TestSim::pacingLinkAndShutdown()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTL");
    const QByteArray req = bytes("01 04 00 00 00 0A 70 0D");
    {
        Sim sim;
        QVERIFY(sim.start({"--pace", "--link", link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.port);

        // 8 request bytes and 25 reply bytes at about 1.04 ms each: 34 ms to the last byte.
        QElapsedTimer t;
        t.start();
        sim.send(req);
        const QByteArray r = sim.readCount(25, 1000);
        const qint64 elapsed = t.elapsed();
        QVERIFY(crcOk(r));
        QVERIFY2(elapsed >= 30, qPrintable(QString::number(elapsed)));

        // The end of stdin does not stop it; SIGTERM does, and takes the link along.
        sim.m_proc.closeWriteChannel();
        QTest::qWait(100);
        QCOMPARE(sim.exchange(req).size(), 25);
        sim.m_proc.terminate();
        QVERIFY(sim.m_proc.waitForFinished(5000));
        QCOMPARE(sim.m_proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.m_proc.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }
    {
        Sim sim;
        QVERIFY(sim.start({"--link", link, "--quiet"}));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(sim.exchange(req).size(), 25);
        QCOMPARE(sim.control("quit"), QStringList());   // --quiet: no RX/TX lines
        QVERIFY(sim.m_proc.waitForFinished(5000));
        QCOMPARE(sim.m_proc.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
}

void TestSim::linkReplacesNothingItDidNotMake()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTL");
    // Refused, and the simulator ends (status 1) saying why; what was there stays.
    auto refused = [&link]() {
        QProcess p;
        p.start(QStringLiteral(TL_SIM_PATH), {"--link", link, "--quiet"});
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(3000);
            return QString("still running");
        }
        const QString err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode() == 1 && p.readAllStandardOutput().isEmpty() ? err : QString("exit %1").arg(p.exitCode());
    };

    QFile file(link);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("someone's file");
    file.close();
    QVERIFY2(refused().contains("exists already"), qPrintable(refused()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("someone's file"));
    file.close();
    QVERIFY(file.remove());

    // Another simulator's link: the second run neither takes nor removes it.
    const QByteArray req = bytes("01 04 00 00 00 0A 70 0D");
    {
        Sim first;
        QVERIFY(first.start({"--link", link, "--quiet"}));
        QVERIFY2(refused().contains("exists already"), qPrintable(refused()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.port);
        QCOMPARE(first.exchange(req).size(), 25);

        // Its link replaced behind its back: on quit it leaves the new one.
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
        QCOMPARE(first.control("quit"), QStringList());
        QVERIFY(first.m_proc.waitForFinished(5000));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
    }
}

void TestSim::fewerRegistersFault()
{
    Sim sim;
    QVERIFY(sim.start({}));
    const QByteArray holding = bytes("01 03 10 00 00 30 41 1E");
    const QByteArray inputs = bytes("01 04 00 00 00 0A 70 0D");

    QVERIFY(sim.command("fault fewer 3 2 1"));
    const QByteArray full = sim.exchange(holding);   // skipped
    QCOMPARE(full.size(), 101);
    // Only reads count: the identification answer is whole and uses up nothing.
    QVERIFY(crcOk(sim.exchange(bytes("01 2B 00 01 00 11 B4"))));
    QByteArray r = sim.exchange(holding);
    QVERIFY(crcOk(r));
    QCOMPARE(r.left(3), bytes("01 03 06"));
    QCOMPARE(r.size(), 3 + 6 + 2);
    QCOMPARE(r.mid(3, 6), full.mid(3, 6));
    r = sim.exchange(inputs);
    QVERIFY(crcOk(r));
    QCOMPARE(r.left(3), bytes("01 04 06"));
    QCOMPARE(r.size(), 11);
    QCOMPARE(sim.exchange(holding).size(), 101);   // both used up

    // Asked for fewer than N: the whole answer.
    QVERIFY(sim.command("fault fewer 27 1"));
    QCOMPARE(sim.exchange(withCrc(bytes("01 03 10 0F 00 02"))).size(), 9);
    QVERIFY(sim.command("fault fewer 0 1"));
    QCOMPARE(sim.exchange(holding), withCrc(bytes("01 03 00")));

    QVERIFY(!sim.command("fault fewer 126 1"));
    QVERIFY(!sim.command("fault fewer 3"));
}

namespace {
// A running tl02-sim with this pid (not a zombie, not a reused pid).
bool simAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
        return false;
    const QByteArray s = stat.readAll();
    const int paren = s.lastIndexOf(')');
    return paren > 0 && s.mid(paren + 2, 1) != "Z" && cmdline.readAll().contains("tl02-sim");
}
} // namespace

void TestSim::endsWithItsParent()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTL");
    // A shell starts the simulator in the background and stays until its
    // stdin gives a line.
    QProcess shell;
    shell.start("/bin/sh", {"-c", "\"$0\" --quiet --link \"$1\" & echo \"PID $!\"; read line",
                            QStringLiteral(TL_SIM_PATH), link});
    QVERIFY(shell.waitForStarted(5000));
    qint64 pid = 0;
    bool port = false;
    QElapsedTimer t;
    t.start();
    while ((pid == 0 || !port) && t.elapsed() < 10000) {
        if (!shell.canReadLine() && !shell.waitForReadyRead(200))
            continue;
        const QString line = QString::fromUtf8(shell.readLine()).trimmed();
        if (line.startsWith("PID "))
            pid = line.mid(4).toLongLong();
        port = port || line.startsWith("PORT ");
    }
    QVERIFY(pid > 0 && port);
    // Whatever the outcome, no simulator is left behind by this test.
    struct Reaper {
        qint64 pid;
        ~Reaper()
        {
            if (simAlive(pid))
                ::kill(pid_t(pid), SIGKILL);
        }
    } reaper{pid};
    QVERIFY(simAlive(pid));
    QVERIFY(QFileInfo(link).isSymLink());

    shell.write("\n");
    QVERIFY(shell.waitForFinished(5000));
    t.restart();
    while (simAlive(pid) && t.elapsed() < 5000)
        QTest::qWait(20);
    QVERIFY2(!simAlive(pid), "tl02-sim outlived the shell that started it");
    // It ended as on "quit": the symlink is gone.
    t.restart();
    while (QFileInfo(link).isSymLink() && t.elapsed() < 2000)
        QTest::qWait(20);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::rtuOverTcp()
{
    SimProcess sim;
    QVERIFY(sim.start({"--tcp", "0"}));
    QVERIFY(sim.tcpAddress().startsWith("127.0.0.1:"));
    QVERIFY(sim.modbusTcpAddress().isEmpty());
    const int pty = openRawPty(sim.portPath());
    QVERIFY(pty >= 0);
    struct Closer { int fd; ~Closer() { ::close(fd); } } closer{pty};

    const QByteArray req = bytes("01 03 10 00 00 30 41 1E");
    QCOMPARE(::write(pty, req.constData(), size_t(req.size())), ssize_t(req.size()));
    const QByteArray viaPty = readReply(pty);
    QCOMPARE(viaPty.size(), 101);

    TcpClient tcp;
    QVERIFY(tcp.connectTo(sim.tcpAddress()));
    QCOMPARE(tcp.exchange(req), viaPty);
    // In two pieces (the first too short to tell the request), then two requests at once.
    tcp.send(req.left(1));
    QThread::msleep(2);
    QCOMPARE(tcp.exchange(req.mid(1)), viaPty);
    tcp.send(req + req);
    QByteArray two = tcp.reply();
    while (two.size() < 202 && tcp.socket.waitForReadyRead(1000))
        two += tcp.socket.readAll();
    QCOMPARE(two, viaPty + viaPty);
    const QList<QByteArray> rx = sim.rxFrames();
    QCOMPARE(rx.size(), 5);
    for (const QByteArray &f : rx)
        QCOMPARE(f, req);
    QVERIFY(!sim.log().join('\n').contains("RAW"));

    QVERIFY(sim.send("fault noreply 1").isEmpty());
    QCOMPARE(tcp.exchange(req), QByteArray());
    QCOMPARE(tcp.exchange(req), viaPty);

    // A client that leaves is followed by the next; a second one replaces the first.
    tcp.socket.disconnectFromHost();
    TcpClient next;
    QVERIFY(next.connectTo(sim.tcpAddress()));
    QCOMPARE(next.exchange(req), viaPty);
    TcpClient third;
    QVERIFY(third.connectTo(sim.tcpAddress()));
    QCOMPARE(third.exchange(req), viaPty);
    QVERIFY(next.socket.state() == QAbstractSocket::UnconnectedState || next.socket.waitForDisconnected(3000));
}

void TestSim::modbusTcp()
{
    SimProcess sim;
    QVERIFY(sim.start({"--modbus-tcp", "0", "--tcp", "0"}));
    QVERIFY(sim.modbusTcpAddress().startsWith("127.0.0.1:"));
    QVERIFY(sim.modbusTcpAddress() != sim.tcpAddress());
    TcpClient mb;
    QVERIFY(mb.connectTo(sim.modbusTcpAddress()));

    // Transaction and unit id echoed, protocol 0, length = unit id + 98 bytes of PDU, no CRC.
    QByteArray r = mb.exchange(bytes("12 34 00 00 00 06 01 03 10 00 00 30"));
    QCOMPARE(r.size(), 6 + 1 + 98);
    QCOMPARE(r.left(9), bytes("12 34 00 00 00 63 01 03 60"));
    QCOMPARE(word(r.mid(6), 0x05), quint16(sim.holding(0x1005)));
    QCOMPARE(word(r.mid(6), 0x0F), quint16(4711));
    // The frame log carries the request as its RTU frame.
    QCOMPARE(sim.rxFrames(), QList<QByteArray>{bytes("01 03 10 00 00 30 41 1E")});

    // Another unit: no answer. Unit 0: carried out, no answer.
    QCOMPARE(mb.exchange(bytes("00 01 00 00 00 06 02 03 10 00 00 01")), QByteArray());
    QCOMPARE(mb.exchange(bytes("00 02 00 00 00 06 00 06 10 05 00 7B")), QByteArray());
    QCOMPARE(sim.holding(0x1005), 123);

    QVERIFY(sim.send("fault exception 4 1").isEmpty());
    QCOMPARE(mb.exchange(bytes("00 03 00 00 00 06 01 04 00 00 00 0A")), bytes("00 03 00 00 00 03 01 84 04"));
    QVERIFY(sim.send("fault fewer 2 1").isEmpty());
    r = mb.exchange(bytes("00 04 00 00 00 06 01 03 10 05 00 03"));
    QCOMPARE(r, bytes("00 04 00 00 00 07 01 03 04 00 7B 01 90"));
    // No CRC to spoil: the length claims one byte more than comes.
    QVERIFY(sim.send("fault badcrc 1").isEmpty());
    QCOMPARE(mb.exchange(bytes("00 05 00 00 00 06 01 03 10 05 00 01")), bytes("00 05 00 00 00 06 01 03 02 00 7B"));
    QCOMPARE(mb.exchange(bytes("00 06 00 00 00 06 01 03 10 05 00 01")), bytes("00 06 00 00 00 05 01 03 02 00 7B"));
}

void TestSim::babbleJamsTheLine()
{
    SimProcess sim;
    QVERIFY(sim.start({"--tcp", "0"}));
    const int pty = openRawPty(sim.portPath());
    QVERIFY(pty >= 0);
    struct Closer { int fd; ~Closer() { ::close(fd); } } closer{pty};
    TcpClient tcp;
    QVERIFY(tcp.connectTo(sim.tcpAddress()));

    const auto readPty = [&](int ms) {
        pollfd p{pty, POLLIN, 0};
        char buf[512];
        const ssize_t n = ::poll(&p, 1, ms) > 0 ? ::read(pty, buf, sizeof buf) : 0;
        return QByteArray(buf, int(qMax<ssize_t>(n, 0)));
    };
    const auto readTcp = [&](int ms) {
        if (tcp.socket.bytesAvailable() == 0)
            tcp.socket.waitForReadyRead(ms);
        return tcp.socket.readAll();
    };
    const std::function<QByteArray(int)> lines[] = {readPty, readTcp};

    const int before = sim.holding(0x1005);
    QVERIFY(before != 123);
    bool ok = false;
    sim.send("fault babble 10", &ok);
    QVERIFY(ok);
    QVERIFY(sim.errorText().contains("tl02-sim: fault: babble every 10 ms"));
    // A write sent into the babble reaches the device but is neither answered nor carried out.
    const QByteArray write = withCrc(bytes("01 06 10 05 00 7B"));
    QCOMPARE(::write(pty, write.constData(), size_t(write.size())), ssize_t(write.size()));
    for (const auto &read : lines) {
        watch(read, 1);   // what piled up before
        const Arrivals a = watch(read, 300);
        QVERIFY2(a.longestGapMs < 150, QByteArray::number(a.longestGapMs));
        QVERIFY2(a.bytes.size() <= 300 / 5 + 5, QByteArray::number(a.bytes.size()));   // no flood
        QCOMPARE(a.bytes, QByteArray(a.bytes.size(), char(0xFF)));
    }
    QCOMPARE(sim.rxFrames(), QList<QByteArray>{write});
    QCOMPARE(sim.holding(0x1005), before);

    sim.send("fault off", &ok);
    QVERIFY(ok);
    QVERIFY(sim.errorText().contains("tl02-sim: babble stopped"));
    for (const auto &read : lines) {
        watch(read, 100);   // settle
        QCOMPARE(watch(read, 300).bytes, QByteArray());
    }
    const QByteArray req = bytes("01 04 00 00 00 0A 70 0D");
    QCOMPARE(::write(pty, req.constData(), size_t(req.size())), ssize_t(req.size()));
    QVERIFY(crcOk(readReply(pty)));
}

void TestSim::multiDropLine()
{
    SimProcess sim;
    QVERIFY(sim.start({"--devices", "1,5,9-12"}));
    const int pty = openRawPty(sim.portPath());
    QVERIFY(pty >= 0);
    struct Closer { int fd; ~Closer() { ::close(fd); } } closer{pty};
    const auto put = [&](const QByteArray &frame) {
        return ::write(pty, frame.constData(), size_t(frame.size())) == frame.size();
    };
    const auto exchange = [&](const QByteArray &request) {
        return put(withCrc(request)) ? readReply(pty, 2000) : QByteArray("write failed");
    };
    // Whether nothing came back once the simulator had logged the request as `kind`.
    const auto silent = [&](const QByteArray &request, const QString &kind) {
        const QByteArray frame = withCrc(request);
        sim.clearLog();
        return put(frame) && sim.waitForLog(kind + " " + frame.toHex().toUpper()) && readReply(pty, 100).isEmpty();
    };
    const auto control = [&](const QString &line) {
        bool ok = false;
        sim.send(line, &ok);
        return ok;
    };
    const auto readSerial = [](int a) { return QByteArray(1, char(a)) + bytes("03 10 0F 00 02"); };
    const auto readType = [](int a) { return QByteArray(1, char(a)) + bytes("04 00 04 00 01"); };
    const QList<int> present{1, 5, 9, 10, 11, 12};

    // Each detector answers its own address with its own serial number; the log names the address.
    for (int a : present) {
        const QByteArray r = exchange(readSerial(a));
        QVERIFY2(crcOk(r) && r.left(3) == QByteArray(1, char(a)) + bytes("03 04"), qPrintable(QString::number(a)));
        QCOMPARE(word(r, 0) | (word(r, 1) << 16), 100000 + a);
        QCOMPARE(sim.rxFrames(a), QList<QByteArray>{withCrc(readSerial(a))});
        QVERIFY(sim.log().contains(QString("TX @%1 %2").arg(a).arg(QString(r.toHex().toUpper()))));
    }
    // Nobody at 2, 8, 13 or 247.
    for (int a : {2, 8, 13, 247})
        QVERIFY2(silent(readType(a), QString("RXOTHER @%1").arg(a)), qPrintable(QString::number(a)));

    // Registers and faults are each detector's own; a line without @N is for the lowest address.
    QVERIFY(control("@5 set type 2"));
    QCOMPARE(word(exchange(readType(5)), 0), quint16(2));
    QCOMPARE(word(exchange(readType(9)), 0), quint16(1));
    QVERIFY(control("@5 fault noreply 1"));
    QVERIFY(silent(readType(5), "RX @5"));
    QCOMPARE(exchange(readType(9)).size(), 7);
    QCOMPARE(exchange(readType(5)).size(), 7);
    QVERIFY(control("fault noreply 1"));
    QCOMPARE(exchange(readType(5)).size(), 7);
    QVERIFY(silent(readType(1), "RX @1"));
    QVERIFY(!control("@7 get input 4"));
    QVERIFY(!control("@5 fault babble 10"));

    // A broadcast write reaches every detector and none answers.
    QVERIFY(silent(bytes("00 06 10 05 01 41"), "RX @0"));
    for (int a : present)
        QCOMPARE(sim.holding(0x1005, a), 321);
    // All into the bootloader; asked at address 0 they would all answer at once, so none does.
    QVERIFY(silent(bytes("00 10 10 20 00 01 02 55 55"), "RX @0"));
    QCOMPARE(sim.commands().size(), present.size());
    QCOMPARE(sim.commands(11), QList<quint16>{0x5555});
    QVERIFY(silent(bytes("00 04 00 04 00 01"), "RX @0"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorText().contains("6 devices answer address 0 at once"), 5000);
    QCOMPARE(word(exchange(readType(12)), 0), quint16(999));
}

void TestSim::multiDropDeviceFileAndRefusals()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("line.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# the boiler room\n\n7 type 2 version 1.10 serial 0x12345678  # the new one\n3\n");
    file.close();
    {
        SimProcess sim;
        QVERIFY(sim.start({"--devices", "@" + file.fileName(), "--version", "2.00"}));
        QCOMPARE(sim.input(4, 7), 2);
        QCOMPARE(sim.holding(0x100F, 7) | (sim.holding(0x1010, 7) << 16), 0x12345678);
        QCOMPARE(sim.input(4, 3), 1);
        QCOMPARE(sim.holding(0x100F, 3) | (sim.holding(0x1010, 3) << 16), 100003);
        QCOMPARE(sim.input(4), 1);   // no prefix: the lowest address
        const int pty = openRawPty(sim.portPath());
        QVERIFY(pty >= 0);
        struct Closer { int fd; ~Closer() { ::close(fd); } } closer{pty};
        for (int a : {7, 3}) {
            const QByteArray req = withCrc(QByteArray(1, char(a)) + bytes("2B 0E 01 00"));
            QCOMPARE(::write(pty, req.constData(), size_t(req.size())), ssize_t(req.size()));
            const QByteArray r = readReply(pty, 2000);
            QVERIFY(crcOk(r));
            QVERIFY(r.contains(a == 7 ? QByteArray("\x02\x04" "1.10") : QByteArray("\x02\x04" "2.00")));
        }
    }

    // Refused with a reason, exit status 2.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("3\n7 type\n");
    file.close();
    const QList<QPair<QStringList, QString>> refusals{
        {{"--devices", "1,5", "--bootloader"}, "--bootloader"},
        {{"--devices", "1,5", "--dump", dir.filePath("x")}, "--dump"},
        {{"--devices", "1,3,2-4"}, "address 3 given twice"},
        {{"--devices", "0,248"}, "\"0\""},
        {{"--devices", "5-3"}, "\"5-3\""},
        {{"--devices", "@" + file.fileName()}, "line.txt:2: type needs a value"},
    };
    for (const auto &r : refusals) {
        QProcess p;
        p.start(QStringLiteral(TL_SIM_PATH), r.first);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(r.second), qPrintable(r.second));
    }
}

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
