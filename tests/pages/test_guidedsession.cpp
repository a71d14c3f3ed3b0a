// The calibration page's guided calibration and function check against the
// simulated detector.  The test drives the reading (the simulator's input
// register 2) and the session's clock, one tick a second, so that the
// 10-second stability window passes without waiting for it.
#include "calibration.h"
#include "calibrationclock.h"
#include "guidedsession.h"
#include "modalcloser.h"
#include "pagetest.h"
#include "programlink.h"
#include "sessionsetup.h"
#include "simprocess.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

using namespace PageTest;

namespace {

// Range 0..100.0 PPM ("X,X"), zero code 8000, span 50.0 at 24000, Limit1
// 20.0 and Limit2 40.0 rising.
const QStringList Holdings = {
    QStringLiteral("0x1000=8000"), QStringLiteral("0x1001=40000"), QStringLiteral("0x1003=0"),
    QStringLiteral("0x1004=1000"), QStringLiteral("0x1005=200"), QStringLiteral("0x1006=400"),
    QStringLiteral("0x1008=16"), QStringLiteral("0x1015=24000"), QStringLiteral("0x1016=500")};

struct Session {
    QTimer timer;
    TimerClock clock{timer};
    Calibration page{clock};
    qint64 now = 1000000;
    QVector<Journal::Record> records;
    QVector<CalibrationStep> started, completed;
    GuidedSession *session;

    explicit Session(bool calibration)
        : session(calibration ? page.calibrationSession() : page.functionCheck())
    {
        session->setClock([this] { return now; });
        session->setGasNames({QStringLiteral("Метан"), QStringLiteral("Пропан")});
        session->setPeople(QStringLiteral("Анна Петрова"), QStringLiteral("ООО «Газконтроль»"), {});
        QObject::connect(session, &GuidedSession::recordReady, [this](const Journal::Record &r) { records << r; });
        QObject::connect(&page, &Calibration::stepStarting, [this](const CalibrationStep &s) { started << s; });
        QObject::connect(&page, &Calibration::stepCompleted, [this](const CalibrationStep &s) { completed << s; });
        child<QTabWidget>(&page, "tabWidget")->setCurrentIndex(3);
        child<QRadioButton>(&page, calibration ? "radioButton_Session" : "radioButton_Check")->click();
    }
    QPushButton *button(const char *name) { return child<QPushButton>(session, name); }
    // The reading `value` for `seconds` ticks of a second each.
    void read(SimProcess &sim, double value, int seconds)
    {
        sim.send(QStringLiteral("set input 2 %1").arg(qRound(value * 10)));
        for (int i = 0; i < seconds; ++i) {
            now += 1000;
            page.timerTick();
        }
    }
};

// Fills the set-up dialog when it comes: the gas, its cylinder and expiry.
void fillSetup(ModalCloser &closer, const QDate &expiry)
{
    closer.pushHandler([expiry](QWidget *w) {
        auto *dialog = qobject_cast<SessionSetup *>(w);
        if (!dialog)
            return false;
        auto *gas = child<QComboBox>(dialog, "comboBox_Gas");
        if (gas->findText(QStringLiteral("Пропан")) < 0)   // the library's names offered
            return false;
        gas->setCurrentText(QStringLiteral("Метан"));
        child<QDoubleSpinBox>(dialog, "doubleSpinBox_Concentration")->setValue(50.0);
        child<QLineEdit>(dialog, "lineEdit_Cylinder")->setText(QStringLiteral("Б-1187"));
        child<QDateEdit>(dialog, "dateEdit_Expiry")->setDate(expiry);
        dialog->accept();
        return true;
    });
}

// With TL_SHOTS set, the page as it looks now, and a protocol, go there.
void shot(QWidget &page, const QString &name, const QString &pdf = QString())
{
    const QString dir = qEnvironmentVariable("TL_SHOTS");
    if (dir.isEmpty())
        return;
    page.resize(460, 300);   // as the main window gives it
    page.show();
    QCoreApplication::processEvents();
    page.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    QFile::remove(dir + QLatin1Char('/') + name + QStringLiteral(".pdf"));
    if (!pdf.isEmpty())
        QFile::copy(pdf, dir + QLatin1Char('/') + name + QStringLiteral(".pdf"));
}

QString pdfText(const QString &path)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("pdftotext")), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

// The message boxes the closer saw (the set-up dialog is no box).
QList<SeenBox> boxes(const ModalCloser &closer)
{
    QList<SeenBox> out;
    for (const SeenBox &b : closer.seen)
        if (b.className == QLatin1String("QMessageBox"))
            out << b;
    return out;
}

QJsonObject details(const Journal::Record &r)
{
    return QJsonDocument::fromJson(r.details.toUtf8()).object();
}

} // namespace

class GuidedSessionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // TL_SHOTS_QM: the pictures in that translation.
        static QTranslator translator;
        if (!qEnvironmentVariable("TL_SHOTS_QM").isEmpty() && translator.load(qEnvironmentVariable("TL_SHOTS_QM")))
            QCoreApplication::installTranslator(&translator);
    }
    void init() { command.resetState(); }
    void cleanup() { command.resetState(); }
    void calibrationSessionRecordsEveryStep();
    void functionCheckWritesNothing_data();
    void functionCheckWritesNothing();
};

void GuidedSessionTest::calibrationSessionRecordsEveryStep()
{
    SimProcess sim;
    QVERIFY(openSim(sim, Holdings, {QStringLiteral("0=8100")}, 1, 27));
    ModalCloser closer;
    Session s(true);
    fillSetup(closer, QDate::currentDate().addYears(1));
    s.button("pushButton_Start")->click();
    QVERIFY(s.session->running());
    sim.clearLog();

    // As found: the zero reads 0.3, the span 47.0; nothing is written.
    s.read(sim, 0.3, 1);
    s.button("pushButton_Action")->click();    // gas on
    s.read(sim, 0.3, 11);
    s.button("pushButton_Action")->click();
    s.read(sim, 0.3, 3);                       // the sensor still reads the zero gas
    QCOMPARE(s.records.size(), 0);
    s.read(sim, 47.0, 11);
    QCOMPARE(s.records.size(), 1);
    QCOMPARE(s.records[0].kind, QStringLiteral("as_found"));
    QVERIFY(writes(sim).isEmpty());

    // The zero adjusted once the reading is stable, then read as left.
    s.button("pushButton_Action")->click();
    s.read(sim, 0.3, 5);
    shot(s.page, QStringLiteral("session-adjust"));
    QVERIFY(!s.button("pushButton_Action")->isEnabled());   // not stable yet
    s.read(sim, 0.3, 6);
    QCOMPARE(s.button("pushButton_Action")->text(), QStringLiteral("Калибровать ноль"));
    s.button("pushButton_Action")->click();
    QCOMPARE(sim.holding(0x1000), 8100);
    s.button("pushButton_Action")->click();
    s.read(sim, 0.0, 11);
    // The span adjusted at 28000, then read as left: 49.5 lies within ±5.0.
    s.button("pushButton_Action")->click();
    sim.send(QStringLiteral("set input 0 28000"));
    s.read(sim, 47.0, 11);
    s.button("pushButton_Action")->click();
    QCOMPARE(sim.holding(0x1015), 28000);
    QCOMPARE(sim.holding(0x1016), 500);
    s.button("pushButton_Action")->click();
    s.read(sim, 49.5, 11);
    QVERIFY(!s.session->running());
    QVERIFY2(boxes(closer).isEmpty(), qPrintable(boxes(closer).value(0).text));

    // Two writes, each announced before it went out; one group.
    QCOMPARE(writesTo(sim, 0x1000).size(), 2);
    QCOMPARE(s.started.size(), 2);
    QCOMPARE(s.completed.size(), 2);
    QCOMPARE(s.records.size(), 2);
    const Journal::Record &left = s.records[1];
    QCOMPARE(left.kind, QStringLiteral("as_left"));
    QVERIFY(left.ok);
    for (const CalibrationStep &step : s.started + s.completed)
        QCOMPARE(step.group, left.group);
    QCOMPARE(s.records[0].group, left.group);
    QVERIFY(s.started[0].uuid != s.completed[0].uuid && s.completed[0].written);
    const QJsonObject c = details(left).value(QStringLiteral("calibration")).toObject();
    QCOMPARE(c.value(QStringLiteral("found_zero")).toDouble(), 0.3);
    QCOMPARE(c.value(QStringLiteral("found_span")).toDouble(), 47.0);
    QCOMPARE(c.value(QStringLiteral("left_span")).toDouble(), 49.5);

    // The protocol: the technician, the cylinder, the verdict and every
    // record but the started ones.
    Protocol::Data data;
    QVERIFY(Protocol::fromDetails(left.details, &data));
    QCOMPARE(s.session->protocol().records.size(), 4);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("p.pdf"));
    QString error;
    QVERIFY2(s.session->saveProtocol(pdf, &error), qPrintable(error));
    shot(s.page, QStringLiteral("session-done"), pdf);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed: the PDF's text is not checked");
    const QString text = pdfText(pdf);
    for (const QString &part : {QStringLiteral("Протокол калибровки"), QStringLiteral("Анна Петрова"),
                                QStringLiteral("Б-1187"), QStringLiteral("Калибровка выполнена, прибор в допуске")})
        QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" not in ") + text));
    // A UUID may break at a hyphen.
    for (const QString &uuid : {s.completed[1].uuid, left.uuid})
        QVERIFY2(QString(text).remove(QLatin1Char(' ')).contains(uuid), qPrintable(uuid + QStringLiteral(" not in ") + text));
}

void GuidedSessionTest::functionCheckWritesNothing_data()
{
    QTest::addColumn<double>("settles");
    QTest::addColumn<int>("expiredDays");   // the cylinder expired this many days ago (0: valid)
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QString>("says");
    QTest::newRow("pass") << 48.0 << 0 << true << QStringLiteral("Прибор работоспособен");
    QTest::newRow("tolerance") << 42.0 << 0 << false << QStringLiteral("показания вне допуска");
    QTest::newRow("expired cylinder") << 50.0 << 3 << true << QStringLiteral("Использование подтверждено");
}

void GuidedSessionTest::functionCheckWritesNothing()
{
    QFETCH(double, settles);
    QFETCH(int, expiredDays);
    QFETCH(bool, passes);
    QFETCH(QString, says);

    SimProcess sim;
    QVERIFY(openSim(sim, Holdings, {}, 1, 27));
    ModalCloser closer;
    Session s(false);
    fillSetup(closer, expiredDays ? QDate::currentDate().addDays(-expiredDays) : QDate::currentDate().addYears(1));
    sim.clearLog();
    if (expiredDays)
        closer.answerNext(QMessageBox::Yes);
    s.button("pushButton_Start")->click();
    QVERIFY(s.session->running());
    // An expired cylinder was asked about, and confirmed (the closer's Yes).
    QCOMPARE(boxes(closer).size(), expiredDays ? 1 : 0);
    if (expiredDays)
        QVERIFY2(boxes(closer)[0].text.contains(QStringLiteral("Б-1187")), qPrintable(boxes(closer)[0].text));

    s.read(sim, 0.0, 2);
    s.button("pushButton_Action")->click();   // gas on
    s.read(sim, 25.0, 2);
    s.read(sim, settles, 12);
    shot(s.page, QStringLiteral("check-remove-gas"));
    QCOMPARE(s.button("pushButton_Action")->text(), QStringLiteral("Газ снят"));
    s.button("pushButton_Action")->click();
    s.read(sim, 0.0, 3);
    QVERIFY(!s.session->running());

    // Read, never written.
    QVERIFY(!sim.requestHeads().isEmpty());
    QVERIFY2(writes(sim).isEmpty(), qPrintable(describe(writes(sim))));
    for (const auto &head : sim.requestHeads())
        QVERIFY(head.second == 3 || head.second == 4);
    QCOMPARE(s.records.size(), 1);
    const Journal::Record &r = s.records[0];
    QCOMPARE(r.kind, QStringLiteral("function_check"));
    QCOMPARE(r.ok, passes);
    const QJsonObject result = details(r).value(QStringLiteral("result")).toObject();
    QCOMPARE(result.value(QStringLiteral("final")).toDouble(), settles);
    QVERIFY(result.value(QStringLiteral("limit2")).toObject().value(QStringLiteral("crossed")).toBool());

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("check.pdf"));
    QString error;
    QVERIFY2(s.session->saveProtocol(pdf, &error), qPrintable(error));
    shot(s.page, QStringLiteral("check-%1").arg(QLatin1String(QTest::currentDataTag())).replace(QLatin1Char(' '), QLatin1Char('-')), pdf);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed: the PDF's text is not checked");
    const QString text = pdfText(pdf);
    for (const QString &part : {QStringLiteral("Протокол проверки работоспособности"), says})
        QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" not in ") + text));
    QVERIFY2(QString(text).remove(QLatin1Char(' ')).contains(r.uuid), qPrintable(r.uuid + QStringLiteral(" not in ") + text));
}

QTEST_MAIN(GuidedSessionTest)
#include "test_guidedsession.moc"
