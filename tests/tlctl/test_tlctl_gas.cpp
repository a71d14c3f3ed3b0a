// tlctl gas: the gas library from the command line, the built binary against
// workbooks made by openpyxl and against tl02-sim: what reaches the file, what
// reaches the device's registers and which frames went out.
#include "simprocess.h"
#include "testdata.h"
#include "tlctlrun.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using Env = QMap<QString, QString>;
Q_DECLARE_METATYPE(Env)

namespace {

const Env asAdmin = password(QStringLiteral("9641"));

quint16 be16(const QByteArray &f, int at) { return quint16(quint8(f[at]) << 8 | quint8(f[at + 1])); }

// Frames that change something: functions 6, 16, 20 and 14.
QList<QByteArray> writes(const QList<QByteArray> &frames)
{
    QList<QByteArray> out;
    for (const QByteArray &f : frames)
        if (f.size() >= 2 && (quint8(f[1]) == 6 || quint8(f[1]) == 16 || quint8(f[1]) == 20 || quint8(f[1]) == 14))
            out << f;
    return out;
}

} // namespace

class TestTlctlGas : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    SimProcess sim;
    QString original;   // the openpyxl library, never changed
    QString library;    // the copy each test works on

    QStringList lib(const QStringList &args) const { return args + QStringList{QStringLiteral("--library"), library}; }
    QStringList onSim(const QStringList &args) const
    {
        return QStringList{QStringLiteral("--port"), sim.portPath(), QStringLiteral("--user"), QStringLiteral("Admin")}
               + lib(args);
    }
    QVector<int> holdingBlock()
    {
        QVector<int> v;
        for (int r = 0x1000; r <= 0x102F; ++r)
            v << sim.holding(r);
        return v;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        original = dir.filePath(QStringLiteral("original.xlsx"));
        library = dir.filePath(QStringLiteral("setting.xlsx"));
        QVERIFY(runXlsxFixture({QStringLiteral("library"), original}));
    }
    void init()
    {
        QFile::remove(library);
        QVERIFY(QFile::copy(original, library));
        QFile::setPermissions(library, QFile::ReadOwner | QFile::WriteOwner);
    }
    void cleanup() { sim.stop(); }

    void addThenSearch();
    void addRefusesBadValues();
    void listAndSearchOutput();
    void applyWritesOnlyTheThresholds();
    void applyRefusesWhatDoesNotFit_data();
    void applyRefusesWhatDoesNotFit();
    void applyReportsAFailedWrite();
};

// An entry added by tlctl is found by the next search, and openpyxl reads
// the cells the dialog writes: the name as text, the words as numbers, in
// the row's format; nothing else in the workbook changes.
void TestTlctlGas::addThenSearch()
{
    TlctlRun r = runTlctl(lib({"gas", "add", "Этилен", "20.5", "30", "--unit", "%LEL", "--discreteness", "X,X",
                               "--decreasing", "1", "--json"}));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.json().value("row").toInt(), 5);
    QCOMPARE(r.json().value("limit1").toInt(), 0x8000 | 205);
    QCOMPARE(r.json().value("limit2").toInt(), 300);
    QVERIFY(runXlsxFixture({QStringLiteral("compare"), original, library, QStringLiteral("xl/worksheets/sheet2.xml"),
                     QStringLiteral("{\"A5\": \"Этилен\", \"B5\": 32973, \"C5\": 300}")}));

    r = runTlctl(lib({"gas", "search", "ЭТИЛ", "--json"}));
    QCOMPARE(r.code, 0);
    const QJsonArray entries = r.json().value("entries").toArray();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].toObject().value("row").toInt(), 5);
    QCOMPARE(entries[0].toObject().value("name").toString(), QStringLiteral("Этилен"));
    QCOMPARE(entries[0].toObject().value("limit1").toInt(), 32973);

    // The same name again is added too, as the dialog allows, with a note.
    r = runTlctl(lib({"gas", "add", "этилен", "3", "4", "--decreasing", "1,2"}));
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.contains(QStringLiteral("row 5")), qPrintable(r.err));
    r = runTlctl(lib({"gas", "search", "этилен", "--json"}));
    QCOMPARE(r.json().value("entries").toArray().size(), 2);
    QCOMPARE(r.json().value("entries").toArray()[1].toObject().value("limit2").toInt(), 0x8000 | 4);
}

// Values out of range or with too many decimals, names too long or empty,
// a library that is no workbook: refused, the file byte for byte as it was.
void TestTlctlGas::addRefusesBadValues()
{
    const QByteArray before = readFile(library);
    const QList<QStringList> refused = {
        {"gas", "add", "Газ", "3276.8", "1", "--discreteness", "X,X"},
        {"gas", "add", "Газ", "1", "32768"},
        {"gas", "add", "Газ", "20.05", "1", "--discreteness", "X,X"},
        {"gas", "add", "Газ", "1.5", "1"},
        {"gas", "add", "Газ", "-1", "1"},
        {"gas", "add", "Газ", "много", "1"},
        {"gas", "add", "Газ", "1", "2", "--unit", "ppb"},
        {"gas", "add", "Газ", "1", "2", "--discreteness", "X,XXX"},
        {"gas", "add", "Газ", "1", "2", "--decreasing", "3"},
        {"gas", "add", "Двадцать одна буква!!", "1", "2"},
        {"gas", "add", " ", "1", "2"},
        {"gas", "add", "Газ", "1"},
        {"gas", "add", "Газ", "1", "2", "--row", "3"},
    };
    for (const QStringList &args : refused) {
        const TlctlRun r = runTlctl(lib(args));
        QVERIFY2(r.code == 2 && r.oneErrorLine(), qPrintable(args.join(' ') + ": " + r.err));
    }
    QCOMPARE(readFile(library), before);

    const QByteArray text("Метан;200;400\n");
    QVERIFY(writeFile(library, text));
    TlctlRun r = runTlctl(lib({"gas", "add", "Газ", "1", "2"}));
    QCOMPARE(r.code, 6);
    QCOMPARE(readFile(library), text);
    r = runTlctl(lib({"gas", "list"}));
    QCOMPARE(r.code, 6);
    QFile::remove(library);
    r = runTlctl(lib({"gas", "add", "Газ", "1", "2"}));
    QCOMPARE(r.code, 6);
    QVERIFY(!QFile::exists(library));
}

void TestTlctlGas::listAndSearchOutput()
{
    TlctlRun r = runTlctl(lib({"gas", "list"}));
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QStringLiteral("     2  Метан          | 200     | 32968\n")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("4 entries in ")));
    r = runTlctl(lib({"gas", "search", "МЕТАН"}));
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains(QStringLiteral("     4  метанол        | 50      | 32818\n")));
    QVERIFY(!r.out.contains(QStringLiteral("Пропан")));
    r = runTlctl(lib({"gas", "list", "--json"}));
    QCOMPARE(r.json().value("entries").toArray().size(), 4);
    QVERIFY(r.json().value("entries").toArray()[0].toObject().value("limit1").isNull());   // the titles
}

// Only Limit1 and Limit2 change in the device, by one write of exactly those
// two registers; the reads around it are all that goes out besides.
void TestTlctlGas::applyWritesOnlyTheThresholds()
{
    QVERIFY(sim.start());
    bool ok = false;
    sim.send(QStringLiteral("set holding 0x1008 0x0612"), &ok);   // %LEL, X,X, both auto-resets
    QVERIFY(ok);
    QVERIFY(runXlsxFixture({QStringLiteral("offset"), library}));     // Метан 200 / 32968 at row 4
    QVector<int> expected = holdingBlock();
    sim.clearLog();

    const TlctlRun r = runTlctl(onSim({"gas", "apply", "МЕТАН", "--unit", "%LEL", "--discreteness", "X,X"}), asAdmin);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("limit2: ")) && r.out.contains(QStringLiteral("20.0 %LEL decreasing")),
             qPrintable(r.out));
    expected[5] = 200;
    expected[6] = 32968;
    QCOMPARE(holdingBlock(), expected);
    const QList<QByteArray> w = writes(sim.rxFrames());
    QCOMPARE(w.size(), 1);
    QCOMPARE(w[0].mid(1, 6), QByteArray::fromHex("101005000204"));
    QCOMPARE(be16(w[0], 7), quint16(200));
    QCOMPARE(be16(w[0], 9), quint16(32968));

    // Without --unit the words go in as the dialog puts them, and tlctl says
    // in which unit they were taken.
    sim.send(QStringLiteral("set holding 0x1005 1"), &ok);
    QVERIFY(ok);
    QCOMPARE(sim.holding(0x1005), 1);
    sim.clearLog();
    const TlctlRun plain = runTlctl(onSim({"gas", "apply", "метан"}), asAdmin);
    QVERIFY2(plain.code == 0, qPrintable(plain.err));
    QVERIFY2(plain.err.contains(QStringLiteral("(%LEL X,X)")), qPrintable(plain.err));
    QCOMPARE(holdingBlock(), expected);
    QCOMPARE(writes(sim.rxFrames()).size(), 1);
}

void TestTlctlGas::applyRefusesWhatDoesNotFit_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Env>("env");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("deviceAsked");
    const Env user = password(QStringLiteral("7529"));
    // The simulator holds PPM X,X and range_max 100.0 (1000).
    QTest::newRow("unit") << QStringList{"gas", "apply", "Пропан", "--unit", "%LEL", "--discreteness", "X,X"}
                          << asAdmin << 2 << true;
    QTest::newRow("discreteness") << QStringList{"gas", "apply", "Пропан", "--unit", "PPM", "--discreteness", "X"}
                                  << asAdmin << 2 << true;
    QTest::newRow("above range") << QStringList{"gas", "apply", "Бутан", "--unit", "PPM", "--discreteness", "X,X"}
                                 << asAdmin << 2 << true;
    QTest::newRow("not words") << QStringList{"gas", "apply", "Гексан", "--unit", "PPM", "--discreteness", "X,X"}
                               << asAdmin << 6 << false;
    QTest::newRow("two of a name") << QStringList{"gas", "apply", "метан", "--unit", "PPM", "--discreteness", "X,X"}
                                   << asAdmin << 2 << false;
    QTest::newRow("no such name") << QStringList{"gas", "apply", "мет", "--unit", "PPM", "--discreteness", "X,X"}
                                  << asAdmin << 2 << false;
    QTest::newRow("unit without discreteness") << QStringList{"gas", "apply", "Пропан", "--unit", "PPM"} << asAdmin
                                               << 2 << false;
    QTest::newRow("above range, no unit given") << QStringList{"gas", "apply", "Бутан"} << asAdmin << 2 << true;
    QTest::newRow("User without factory password")
        << QStringList{"gas", "apply", "Пропан", "--unit", "PPM", "--discreteness", "X,X"} << user << 5 << false;
}

// Nothing is written when the entry does not fit the device or cannot be
// chosen; the device is not even asked when the library or the login
// already says no.
void TestTlctlGas::applyRefusesWhatDoesNotFit()
{
    QFETCH(QStringList, args);
    QFETCH(Env, env);
    QFETCH(int, code);
    QFETCH(bool, deviceAsked);
    // Rows: titles, Метан, Пропан 100/400, Бутан 1001 (above 1000), Гексан
    // with a text threshold, метан again.
    QProcess py;
    py.start(QStringLiteral(TL_PYTHON), {QStringLiteral("-c"), QStringLiteral(
        "import openpyxl,sys\nwb=openpyxl.Workbook();ws=wb.active\n"
        "for row in [['Название газа','Порог 1','Порог 2'],['Метан',200,300],['Пропан',100,400],"
        "['Бутан',100,32768+1001],['Гексан','много',400],['метан',1,2]]: ws.append(row)\n"
        "wb.save(sys.argv[1])\n"), library});
    QVERIFY(py.waitForFinished(60000) && py.exitCode() == 0);
    QVERIFY(sim.start());
    const QVector<int> before = holdingBlock();
    sim.clearLog();

    const TlctlRun r = runTlctl(onSim(args), env);
    QVERIFY2(r.code == code && r.oneErrorLine(), qPrintable(QString::number(r.code) + ": " + r.err));
    if (deviceAsked)
        QVERIFY2(r.err.contains(QStringLiteral("nothing was written")), qPrintable(r.err));
    QVERIFY(writes(sim.rxFrames()).isEmpty());
    QCOMPARE(!sim.rxFrames().isEmpty(), deviceAsked);
    QCOMPARE(holdingBlock(), before);
}

// The device refuses the write: exit 4, said so, and its thresholds stay.
void TestTlctlGas::applyReportsAFailedWrite()
{
    QVERIFY(sim.start());
    const QVector<int> before = holdingBlock();
    sim.clearLog();
    // Probe, two identification requests, holding block, input registers,
    // the serial number and type before the write: then every reply is an
    // exception (the request is not carried out).
    bool ok = false;
    sim.send(QStringLiteral("fault exception 4 -1 7"), &ok);
    QVERIFY(ok);
    const TlctlRun r = runTlctl(onSim({"gas", "apply", "Пропан", "--unit", "PPM", "--discreteness", "X,X"}), asAdmin);
    sim.send(QStringLiteral("fault clear"));
    QCOMPARE(r.code, 4);
    QVERIFY2(r.err.contains(QStringLiteral("limit1 and limit2")), qPrintable(r.err));
    QVERIFY(!r.out.contains(QStringLiteral("took")));
    QVERIFY(!writes(sim.rxFrames()).isEmpty());
    QCOMPARE(holdingBlock(), before);
}

QTEST_GUILESS_MAIN(TestTlctlGas)
#include "test_tlctl_gas.moc"
