// Parameter files on their way into a detector: junk, random, damaged,
// implausible, foreign and simulation-on files, through tlctl restore and the
// program's "load configuration".  What counts is what reached the simulated
// detector.
#include "modalcloser.h"
#include "restoretestutil.h"
#include "safetysuite.h"
#include "safetyutil.h"
#include "tlctlrun.h"

#include <QTemporaryDir>

using namespace SafetyUtil;

namespace {

// The simulated detector's own block (its defaults).
ParamBlock simulatorBlock(SimProcess &sim, const QString &dir)
{
    const QString path = dir + QStringLiteral("/own.txt");
    runTlctl({QStringLiteral("--port"), sim.portPath(), QStringLiteral("backup"), path});
    sim.clearLog();
    return blockOfFile(path);
}

// Another detector's backup: its own serial number, address, board version
// and calibration, other thresholds, and the simulation switched on.
ParamBlock foreignBlock(ParamBlock b)
{
    b.SerialNum = 999;
    b.NetAddress = 9;
    b.HWVersion = 321;
    b.ADCCode4m = 7000;
    b.PWMCode4m = 1100;
    b.ConcCalib = 450;
    b.ValueMin = 50;
    b.Limit1 = 250;
    b.ImmitConcOn = 1;
    b.ImmitConc = 1234;
    return b;
}

} // namespace

class FileSafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tlctlRefusesWhatIsNoParameterFile_data();
    void tlctlRefusesWhatIsNoParameterFile();
    void tlctlRefusesImplausibleValues();
    void tlctlKeepsTheDetectorsOwnFieldsAndNeverSimulates();
    void programRefusesJunkAndImplausibleFiles();
    void programShowsChangesAndKeepsOwnFields();

private:
    QStringList on(const QStringList &words) const
    {
        return QStringList{QStringLiteral("--port"), sim.portPath()} + words;
    }

    QTemporaryDir dir;
    SimProcess sim;
};

void FileSafety::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(QStringLiteral(TL_RUNTIME_DIR)));
    MainWindow::setIniPathOverride(dir.filePath(QStringLiteral("ini")));
}

void FileSafety::init()
{
    command.resetState();
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
}

void FileSafety::cleanup()
{
    FileChoice::openHook = nullptr;
    command.resetState();
    sim.stop();
}

void FileSafety::tlctlRefusesWhatIsNoParameterFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("says");
    QFile readme(QStringLiteral(TL_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QTest::newRow("README") << readme.readAll() << "line 1, column 1: character '#'";
    QTest::newRow("random, 4 KiB") << randomBytes(4096, 7) << "line ";
    QTest::newRow("random, 1 MiB") << randomBytes(1 << 20, 8) << "a parameter file has at most 65536";

    ParamBlock b;
    std::memset(&b, 0, sizeof b);
    b.Limit1 = 200;
    b.NetAddress = 1;
    b.ValueMax = 1000;
    QByteArray damaged = hexFile(b);
    damaged[40 + 2 + 17] = 'Z';   // a digit of line 2
    QTest::newRow("digit turned into Z") << damaged << "line 2, column 18: character 'Z'";
    QByteArray odd = hexFile(b);
    odd.remove(3 * 42 + 5, 1);
    QTest::newRow("digit missing") << odd << "line 4: odd number of hex digits";
    QTest::newRow("eight lines") << hexFile(b) + QByteArray(40, '0') + "\r\n" << "line 8: more than 140 bytes";
}

void FileSafety::tlctlRefusesWhatIsNoParameterFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    const QString path = dir.filePath(QStringLiteral("junk.txt"));
    QVERIFY(writeFile(path, content));
    const TlctlRun r = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("Velta"),
                                    QStringLiteral("--yes"), QStringLiteral("--clone")}),
                                password(QStringLiteral("8350")));
    QCOMPARE(r.code, 6);
    QVERIFY2(r.oneErrorLine() && r.err.contains(QStringLiteral("is not a parameter file")) && r.err.contains(says),
             qPrintable(r.err));
    // Refused before the port was even used.
    QTest::qWait(100);
    QVERIFY(sim.rxFrames().isEmpty());
    QCOMPARE(sim.holding(0x1005), 200);
    QCOMPARE(sim.holding(0x1019), 0);
}

void FileSafety::tlctlRefusesImplausibleValues()
{
    ParamBlock b = simulatorBlock(sim, dir.path());
    b.NetAddress = 250;
    b.NetSpeed = 236;
    b.Limit1 = 4078;             // 407.8 PPM, above the range of 100.0 PPM
    b.TimeLimit = 30000;         // 30 s
    b.Config = quint16(b.Config | 0x0030);   // discreteness code 3
    const QString path = dir.filePath(QStringLiteral("implausible.txt"));
    QVERIFY(writeFile(path, hexFile(b)));
    const TlctlRun r = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("Admin"),
                                    QStringLiteral("--yes")}),
                                password(QStringLiteral("9641")));
    QCOMPARE(r.code, 6);
    QVERIFY(r.oneErrorLine());
    for (const char *name : {"net_address = 250 (allowed 1 to 247)", "net_speed = 236", "discreteness = X,XXX", "trip_delay = 30 s"})
        QVERIFY2(r.err.contains(QLatin1String(name)), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("limit1 (4.078 PPM) is above the upper range value range_max (1.000 PPM): "
                                           "such a threshold can never trip")), qPrintable(r.err));
    QTest::qWait(100);
    QVERIFY(sim.rxFrames().isEmpty());
}

void FileSafety::tlctlKeepsTheDetectorsOwnFieldsAndNeverSimulates()
{
    const ParamBlock own = simulatorBlock(sim, dir.path());
    const QString path = dir.filePath(QStringLiteral("foreign.txt"));
    QVERIFY(writeFile(path, hexFile(foreignBlock(own))));

    // Admin, no --clone: the thresholds come over, nothing of the other
    // detector's identity or calibration does, and no simulation.
    TlctlRun r = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("Admin"),
                              QStringLiteral("--yes")}),
                          password(QStringLiteral("9641")));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("limit1             20.0 PPM -> 25.0 PPM")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("the file has the concentration simulation on: it is written as off")));
    QVERIFY(r.out.contains(QStringLiteral("serial_number      4711 (file: 999): the detector's own value")));
    QVERIFY(r.out.contains(QStringLiteral("range_min          0.0 PPM (file: 5.0 PPM): the level Admin may not change it")));
    QCOMPARE(sim.holding(0x1005), 250);
    QCOMPARE(sim.holding(0x100F), 4711);
    QCOMPARE(sim.holding(0x100E) & 0xFF, 1);
    QCOMPARE(sim.holding(0x101B), 123);
    QCOMPARE(sim.holding(0x1000), int(own.ADCCode4m));
    QCOMPARE(sim.holding(0x100A), int(own.PWMCode4m));
    QCOMPARE(sim.holding(0x1016), int(own.ConcCalib));
    QCOMPARE(sim.holding(0x1003), 0);
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(sim.holding(0x101A), 0);

    // --dry-run lists and sends no write.
    sim.clearLog();
    const QStringList velta{QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("Velta"),
                            QStringLiteral("--clone")};
    r = runTlctl(on(velta + QStringList{QStringLiteral("--dry-run")}), password(QStringLiteral("8350")));
    QVERIFY2(r.code == 0 && r.out.contains(QStringLiteral("serial_number      4711 -> 999")), qPrintable(r.out + r.err));
    QVERIFY(writesTo(sim, 0x1000).isEmpty());

    // Velta with --clone copies the detector's own fields too, but still
    // not the simulation.
    r = runTlctl(on(velta + QStringList{QStringLiteral("--yes")}), password(QStringLiteral("8350")));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(sim.holding(0x100F), 999);
    QCOMPARE(sim.holding(0x100E) & 0xFF, 9);
    QCOMPARE(sim.holding(0x101B), 321);
    QCOMPARE(sim.holding(0x1000), 7000);
    QCOMPARE(sim.holding(0x1016), 450);
    QCOMPARE(sim.holding(0x1003), 50);
    QCOMPARE(sim.holding(0x101A), 1234);
    QCOMPARE(sim.holding(0x1019), 0);
}

void FileSafety::programRefusesJunkAndImplausibleFiles()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, sim, QStringLiteral("Velta")));
    const QString junk = dir.filePath(QStringLiteral("junk.txt"));
    QVERIFY(writeFile(junk, randomBytes(4096, 11)));
    ParamBlock b = command.DeviceParams;
    b.NetAddress = 0;            // the broadcast address
    b.Limit2 = 0x8000 | 2000;    // 200.0 PPM, above the range of 100.0 PPM
    const QString implausible = dir.filePath(QStringLiteral("implausible.txt"));
    QVERIFY(writeFile(implausible, hexFile(b)));

    struct Case {
        QString path;
        QStringList says;
    };
    const Case cases[] = {
        {junk, {QStringLiteral("не является файлом параметров"), QStringLiteral("строка 1")}},
        {implausible, {QStringLiteral("содержит значения"), QStringLiteral("Сетевой адрес: 0 (допустимо от 1 до 247)"),
                       QStringLiteral("Порог 2 (200.0 PPM) выше верхнего значения диапазона (100.0 PPM): такой "
                                      "порог никогда не сработает")}},
    };
    for (const Case &c : cases) {
        sim.clearLog();
        chooseFile(&FileChoice::openHook, c.path);
        ModalCloser closer;
        window.on_pushButtonLoadConfigDevice_clicked();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
        for (const QString &s : c.says)
            QVERIFY2(closer.seen[0].text.contains(s), qPrintable(closer.seen[0].text));
        QTest::qWait(100);
        QVERIFY(sim.rxFrames().isEmpty());
    }
    theMainWindow = nullptr;
}

void FileSafety::programShowsChangesAndKeepsOwnFields()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, sim, QStringLiteral("Velta")));
    const ParamBlock own = command.DeviceParams;
    const QString path = dir.filePath(QStringLiteral("foreign.txt"));
    QVERIFY(writeFile(path, hexFile(foreignBlock(own))));
    chooseFile(&FileChoice::openHook, path);

    // Cancelled: read, but nothing written.
    {
        sim.clearLog();
        ModalCloser closer;
        RestoreSeen seen;
        closer.pushHandler(answerRestore(&seen, false));
        window.on_pushButtonLoadConfigDevice_clicked();
        QVERIFY(seen.shown);
        QVERIFY(writesTo(sim, 0x1000).isEmpty());
        QCOMPARE(sim.holding(0x1005), 200);
    }
    // Written without copying: the thresholds come over, the serial number
    // stays, the simulation stays off.
    {
        ModalCloser closer;
        RestoreSeen seen;
        closer.pushHandler(answerRestore(&seen, true));
        window.on_pushButtonLoadConfigDevice_clicked();
        QVERIFY(seen.rows.contains(QStringLiteral("Порог 1: 20.0 PPM -> 25.0 PPM")));
        QVERIFY2(seen.notes.contains(QStringLiteral("будет записана выключенной")), qPrintable(seen.notes));
        QVERIFY2(seen.notes.contains(QStringLiteral("Заводской номер (в файле 999)")), qPrintable(seen.notes));
        QCOMPARE(sim.holding(0x1005), 250);
        QCOMPARE(sim.holding(0x100F), 4711);
        QCOMPARE(sim.holding(0x1000), int(own.ADCCode4m));
        QCOMPARE(sim.holding(0x1019), 0);
    }
    // Copying the detector's own fields (production level).
    {
        sim.send(QStringLiteral("set holding 0x1019 1"));   // the device happens to simulate
        ModalCloser closer;
        RestoreSeen seen;
        closer.pushHandler(answerRestore(&seen, true, true));
        window.on_pushButtonLoadConfigDevice_clicked();
        QVERIFY(seen.rows.contains(QStringLiteral("Заводской номер: 4711 -> 999")));
        QVERIFY(seen.rows.contains(QStringLiteral("Имитация концентрации: Вкл. -> Выкл.")));
        QCOMPARE(sim.holding(0x100F), 999);
        QCOMPARE(sim.holding(0x1000), 7000);
        QCOMPARE(sim.holding(0x1019), 0);
    }
    theMainWindow = nullptr;
}

SAFETY_GROUP("files", FileSafety)
#include "safety_files.moc"
