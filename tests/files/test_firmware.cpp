// The firmware transfer against the simulated bootloader: block layout on the
// wire, the flash image it leaves, the framing commands, cancel and the
// failures before, during and after the blocks; and the judgement of an
// image's vector table that comes before any of it.
#include "command.h"
#include "filetestutil.h"
#include "firmware.h"
#include "simlink.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestFirmware : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void transfersImageInBlocks_data();
    void transfersImageInBlocks();
    void cancelBetweenBlocksSendsNoRestart();
    void badImageSendsNothing();
    void startAndRestartFailures();
    void vectorTableJudgement();

private:
    bool startBootloader();
    QString writeImage(const QByteArray &bytes, const QString &name = "fw.bin");
    QByteArray dump();

    QTemporaryDir dir;
    SimProcess sim;
    Command link;
};

bool TestFirmware::startBootloader()
{
    if (!SimLink::openSim(link, sim, {"--bootloader", "--dump", dir.filePath("flash.bin")}, 0))
        return false;
    link.DeviceType = 999;
    return true;
}

QString TestFirmware::writeImage(const QByteArray &bytes, const QString &name)
{
    const QString path = dir.filePath(name);
    return writeFile(path, bytes) ? path : QString();
}

QByteArray TestFirmware::dump()
{
    bool ok = false;
    sim.send("dump", &ok);
    if (!ok)
        return QByteArray("<dump failed>");
    return readFile(dir.filePath("flash.bin"));
}

void TestFirmware::init()
{
    link.resetState();
    QVERIFY(dir.isValid());
    QVERIFY2(startBootloader(), qPrintable(sim.errorText()));
}

void TestFirmware::cleanup()
{
    link.resetState();
    sim.stop();
}

void TestFirmware::transfersImageInBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("application");
    QTest::addColumn<QList<quint32>>("addresses");
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<QList<int>>("percents");
    // Pattern images have no vector table: they go as the user's choice.
    QTest::newRow("450 bytes") << 450 << false << QList<quint32>{0x08001C00, 0x08001CC8, 0x08001D90}
                               << QList<int>{200, 200, 50} << QList<int>{0, 44, 88};
    QTest::newRow("400 bytes") << 400 << false << QList<quint32>{0x08001C00, 0x08001CC8}
                               << QList<int>{200, 200} << QList<int>{0, 50};
    QTest::newRow("1 byte") << 1 << false << QList<quint32>{0x08001C00} << QList<int>{1} << QList<int>{0};
    QTest::newRow("application, 201 bytes") << 201 << true << QList<quint32>{0x08001C00, 0x08001CC8}
                                            << QList<int>{200, 1} << QList<int>{0, 99};
}

void TestFirmware::transfersImageInBlocks()
{
    QFETCH(int, size);
    QFETCH(bool, application);
    QFETCH(QList<quint32>, addresses);
    QFETCH(QList<int>, lengths);
    QFETCH(QList<int>, percents);

    const QByteArray image = application ? applicationImage(size, size) : patternImage(size, size);
    const QString path = writeImage(image);
    QVERIFY(!path.isEmpty());

    // No event may run during the exchanges or the pause: a timer that is due
    // at once must still be pending when the first block is about to go.
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QElapsedTimer clock;
    qint64 pauseSeen = -1;
    bool timerRanBeforeBlocks = true;
    QList<int> before, after;
    QList<qint64> positions;

    Firmware::Hooks hooks;
    hooks.transferStarting = [&](qint64 s) {
        QCOMPARE(s, qint64(size));
        pauseSeen = clock.elapsed();
        timerRanBeforeBlocks = timerRan;
    };
    hooks.beforeStep = [&](int p) { before << p; return true; };
    hooks.afterStep = [&](int p, qint64 pos, qint64 s) {
        after << p;
        positions << pos;
        QCOMPARE(s, qint64(size));
    };
    Firmware::Report report;
    clock.start();
    const Firmware::Result r = Firmware::update(link, path, hooks, &report, application ? Firmware::Images::ApplicationOnly
                                                                               : Firmware::Images::Any);
    QCOMPARE(Firmware::resultName(r), Firmware::resultName(Firmware::Result::Ok));

    QVERIFY(!timerRanBeforeBlocks);
    QVERIFY2(pauseSeen >= 1450, qPrintable(QString::number(pauseSeen)));
    QCOMPARE(before, percents);
    QCOMPARE(after, percents);
    QCOMPARE(positions.last(), qint64(0));
    QCOMPARE(report.blocksSent, lengths.size());
    QCOMPARE(report.bytesSent, qint64(size));
    QCOMPARE(report.linkResult, quint16(0));

    // On the wire: 0x5555 first, the blocks in order, 0x6060 last.
    const QList<QByteArray> frames = sim.rxFrames();
    QVERIFY(frames.size() >= 2);
    QCOMPARE(frames.first().left(9).toHex(), QByteArray("001010200001025555"));
    QCOMPARE(frames.last().left(9).toHex(), QByteArray("001010200001026060"));
    QCOMPARE(sim.commands(), (QList<quint16>{0x5555, 0x6060}));
    const QList<BlockFrame> blocks = blockFrames(frames);
    QCOMPARE(blocks.size(), addresses.size());
    QByteArray joined;
    for (int i = 0; i < blocks.size(); ++i) {
        QCOMPARE(blocks[i].address, addresses[i]);
        QCOMPARE(blocks[i].length, lengths[i]);
        QCOMPARE(blocks[i].data.size(), lengths[i]);
        joined += blocks[i].data;
    }
    QCOMPARE(joined, image);
    QCOMPARE(dump(), image);
}

void TestFirmware::cancelBetweenBlocksSendsNoRestart()
{
    const QByteArray image = patternImage(450, 7);
    const QString path = writeImage(image);
    int calls = 0;
    Firmware::Hooks hooks;
    hooks.beforeStep = [&](int) { return ++calls < 2; };
    Firmware::Report report;
    QCOMPARE(int(Firmware::update(link, path, hooks, &report, Firmware::Images::Any)), int(Firmware::Result::Cancelled));
    QCOMPARE(report.blocksSent, 1);
    const QList<BlockFrame> blocks = blockFrames(sim.rxFrames());
    QCOMPARE(blocks.size(), 1);
    QCOMPARE(blocks[0].address, quint32(0x08001C00));
    QCOMPARE(sim.commands(), QList<quint16>{0x5555});
    QCOMPARE(dump(), image.left(200));

    // Cancelled before the first block: only the start command went out.
    sim.clearLog();
    hooks.beforeStep = [](int) { return false; };
    QCOMPARE(int(Firmware::update(link, path, hooks, &report, Firmware::Images::Any)), int(Firmware::Result::Cancelled));
    QCOMPARE(report.blocksSent, 0);
    QVERIFY(blockFrames(sim.rxFrames()).isEmpty());
    QCOMPARE(sim.commands(), QList<quint16>{0x5555});
}

void TestFirmware::badImageSendsNothing()
{
    bool hookCalled = false;
    Firmware::Hooks hooks;
    hooks.transferStarting = [&](qint64) { hookCalled = true; };
    hooks.beforeStep = [&](int) { hookCalled = true; return true; };

    const QString empty = writeImage(QByteArray(), "empty.bin");
    QCOMPARE(int(Firmware::update(link, empty, hooks)), int(Firmware::Result::EmptyFile));
    QCOMPARE(int(Firmware::update(link, dir.filePath("absent.bin"), hooks)), int(Firmware::Result::OpenFailed));
    QCOMPARE(int(Firmware::update(link, dir.path(), hooks)), int(Firmware::Result::OpenFailed));

    // One byte more than the application flash holds, and a 100 MB file.
    Firmware::Report report;
    const QString over = writeImage(patternImage(int(Firmware::MaxImageBytes) + 1), "over.bin");
    QCOMPARE(Firmware::resultName(Firmware::update(link, over, hooks, &report)),
             Firmware::resultName(Firmware::Result::TooLarge));
    QCOMPARE(report.size, Firmware::MaxImageBytes + 1);
    QCOMPARE(report.blocksSent, 0);
    QFile huge(dir.filePath("huge.bin"));
    QVERIFY(huge.open(QIODevice::ReadWrite) && huge.resize(100 * 1024 * 1024));
    QCOMPARE(int(Firmware::update(link, &huge, hooks)), int(Firmware::Result::TooLarge));
    // Text, without the user's consent.
    const QString text = writeImage(textImage(), "readme.bin");
    QCOMPARE(Firmware::resultName(Firmware::update(link, text, hooks, &report)),
             Firmware::resultName(Firmware::Result::NotApplication));
    QCOMPARE(report.vectors.stackPointer, quint32(0x4C542023));
    QVERIFY(!hookCalled);
    // Give a stray frame time to arrive before asserting there was none.
    QTest::qWait(200);
    QVERIFY(sim.rxFrames().isEmpty());
}

void TestFirmware::startAndRestartFailures()
{
    // Addressed (not broadcast) commands get answers, so a refusal is seen.
    link.SlaveAddress = 1;
    const QByteArray image = patternImage(1, 3);
    const QString path = writeImage(image);

    sim.send("fault exception 2 -1");
    Firmware::Report report;
    QCOMPARE(int(Firmware::update(link, path, {}, &report, Firmware::Images::Any)), int(Firmware::Result::StartFailed));
    QCOMPARE(report.linkResult, quint16(ResultIllegalAddress));
    QVERIFY(blockFrames(sim.rxFrames()).isEmpty());

    // The start command and the one block pass, the restart is refused.
    sim.send("fault clear");
    sim.clearLog();
    sim.send("fault exception 2 -1 2");
    QCOMPARE(int(Firmware::update(link, path, {}, &report, Firmware::Images::Any)), int(Firmware::Result::RestartFailed));
    QCOMPARE(report.blocksSent, 1);
    QCOMPARE(blockFrames(sim.rxFrames()).size(), 1);
    QCOMPARE(dump(), image);
}

void TestFirmware::vectorTableJudgement()
{
    using Reset = Firmware::VectorCheck::Reset;
    auto head = [](quint32 sp, quint32 reset) {
        QByteArray b(8, '\0');
        for (int i = 0; i < 4; ++i) {
            b[i] = char(sp >> (8 * i));
            b[4 + i] = char(reset >> (8 * i));
        }
        return b;
    };
    auto check = [&](quint32 sp, quint32 reset, qint64 size) {
        return Firmware::checkVectorTable(head(sp, reset), size);
    };
    const quint32 ram = 0x20004000;
    QVERIFY(check(ram, 0x08001C09, 450).looksLikeApplication());

    // The stack pointer: RAM from its first address to its end (the stack
    // grows down from there), nothing outside.
    QVERIFY(check(0x20000000, 0x08001C09, 450).stackInRam);
    QVERIFY(check(0x20040000, 0x08001C09, 450).stackInRam);
    QVERIFY(!check(0x1FFFFFFC, 0x08001C09, 450).stackInRam);
    QVERIFY(!check(0x20040004, 0x08001C09, 450).stackInRam);
    QVERIFY(!check(0xFFFFFFFF, 0x08001C09, 450).looksLikeApplication());   // erased flash

    // The reset address: odd, within the image's own bytes and the flash.
    QCOMPARE(check(ram, 0x08001C01, 8).reset, Reset::Ok);            // an 8-byte image: its last halfword
    QCOMPARE(check(ram, 0x08001C07, 8).reset, Reset::Ok);
    QCOMPARE(check(ram, 0x08001C09, 8).reset, Reset::OutsideImage);  // just past its end
    QCOMPARE(check(ram, 0x08001C08, 450).reset, Reset::Even);
    QCOMPARE(check(ram, 0x08000101, 450).reset, Reset::OutsideImage); // the bootloader's own flash
    QCOMPARE(check(ram, 0x0803FFFF, Firmware::MaxImageBytes).reset, Reset::Ok);
    QCOMPARE(check(ram, 0x08040001, Firmware::MaxImageBytes).reset, Reset::OutsideFlash);
    QCOMPARE(check(ram, 0x00000401, 450).reset, Reset::OutsideFlash);  // built for address 0

    // Too short for a table at all.
    const Firmware::VectorCheck shortImage = Firmware::checkVectorTable(QByteArray(7, '\x20'), 7);
    QVERIFY(!shortImage.hasTable && !shortImage.looksLikeApplication());
    QCOMPARE(Firmware::vectorProblemText(shortImage),
             QStringLiteral("it is 7 bytes long, shorter than the 8 bytes of a vector table (initial stack pointer and "
                            "reset address)"));

    // Text: both words named, with their values and where they should be.
    const QString said = Firmware::vectorProblemText(Firmware::checkVectorTable(textImage(), 1000));
    QCOMPARE(said, QStringLiteral("word 0, the initial stack pointer, is 0x4C542023, not an address in RAM "
                                  "(0x20000000-0x2003FFFF); word 1, the reset address, is 0x6E6F4320, outside the "
                                  "256 KiB of flash (0x08000000-0x0803FFFF)"));
    QVERIFY(Firmware::vectorProblemText(check(ram, 0x08001C09, 450)).isEmpty());

    // Read whole, with its digest: SHA-256 of "abc".
    const Firmware::Image abc = Firmware::readImage(writeImage("abc", "abc.bin"));
    QCOMPARE(int(abc.status), int(Firmware::Result::Ok));
    QCOMPARE(abc.sha256Hex(), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QVERIFY(!abc.vectors.hasTable);

    // An image read whole is judged as it goes: one even word refuses it,
    // and nothing is sent.
    QByteArray even = applicationImage(450);
    even[4] = 0x08;   // reset address 0x08001C08
    const Firmware::Image image = Firmware::readImage(writeImage(even, "even.bin"));
    QCOMPARE(image.vectors.reset, Reset::Even);
    QCOMPARE(int(Firmware::update(link, image)), int(Firmware::Result::NotApplication));
    QTest::qWait(200);
    QVERIFY(sim.rxFrames().isEmpty());
}

QTEST_GUILESS_MAIN(TestFirmware)
#include "test_firmware.moc"
