// tlctl check against tl02-sim: the concentration the simulator reports is
// stepped by the test as tlctl tells the technician what to do (the gas on,
// each countdown line, the gas off), so the cases follow tlctl's own pace
// and not the clock.  Each case runs on a simulator of its own, all at once
// (each needs the 10 s of flat readings a settled reading takes).  Then
// the journal's record, the protocol made from it, and what reached the
// simulator: reads only.
#include "journal.h"
#include "protocoldata.h"
#include "simprocess.h"
#include "siteregister.h"
#include "tlctlrun.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// One function check in progress: the simulator, tlctl, and what the test
// does when tlctl says something.
struct Case {
    QString name;
    QStringList extra;            // options besides the usual ones
    QVector<int> ramp;            // input register 2 after "apply", then one per countdown line
    int afterRemoval = 0;         // input register 2 once tlctl says to remove the gas
    bool interrupt = false;       // Ctrl-C at the first countdown line instead
    QString journalIn;            // the journal's location when not the usual file

    SimProcess sim;
    QTemporaryDir dir;
    QProcess tlctl;
    QString out, err;
    int stepped = 0;              // ramp values set so far
    bool removed = false;
    bool interrupted = false;
    int code = -1;

    QString journal() const
    {
        return journalIn.isEmpty() ? dir.filePath(QStringLiteral("journal.sqlite")) : journalIn;
    }
};

QMap<QString, QString> environmentFor(const QTemporaryDir &dir)
{
    return {{QStringLiteral("TLCTL_PASSWORD"), QStringLiteral("8350")},
            {QStringLiteral("USER"), QStringLiteral("ivanova")},
            {QStringLiteral("XDG_DATA_HOME"), dir.path()}};
}

QStringList checkArguments(const Case &c)
{
    return QStringList{QStringLiteral("--port"), c.sim.portPath(), QStringLiteral("check"),
                       QStringLiteral("--user"), QStringLiteral("Velta"), QStringLiteral("--gas"),
                       QStringLiteral("Метан"), QStringLiteral("--conc"), QStringLiteral("50"),
                       QStringLiteral("--cylinder"), QStringLiteral("C-1234"), QStringLiteral("--org"),
                       QStringLiteral("ООО Газконтроль"), QStringLiteral("--timeout"), QStringLiteral("60"),
                       QStringLiteral("--journal"), c.journal()}
           + c.extra;
}

bool setReading(Case &c, int raw)
{
    bool ok = false;
    c.sim.send(QStringLiteral("set input 2 %1").arg(raw), &ok);
    return ok;
}

// Runs every case's tlctl at once and answers what each says, until all
// have ended (or `limitMs`).
void runAll(const QVector<Case *> &cases, int limitMs)
{
    for (Case *c : cases) {
        c->tlctl.setProcessEnvironment(tlctlEnvironment(environmentFor(c->dir)));
        c->tlctl.start(tlctlPath(), checkArguments(*c));
        c->tlctl.closeWriteChannel();
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs) {
        bool running = false;
        for (Case *c : cases) {
            if (c->code >= 0)
                continue;
            c->out += QString::fromUtf8(c->tlctl.readAllStandardOutput());
            c->err += QString::fromUtf8(c->tlctl.readAllStandardError());
            if (c->tlctl.state() == QProcess::NotRunning) {
                c->code = c->tlctl.exitStatus() == QProcess::NormalExit ? c->tlctl.exitCode() : 999;
                continue;
            }
            running = true;
            const int countdown = c->err.count(QStringLiteral("settling: "));
            if (c->stepped == 0 && c->out.contains(QLatin1String("apply the test gas now"))) {
                setReading(*c, c->ramp.value(0));
                c->stepped = 1;
            }
            if (c->interrupt && !c->interrupted && countdown > 0) {
                ::kill(pid_t(c->tlctl.processId()), SIGINT);
                c->interrupted = true;
            }
            while (!c->interrupt && c->stepped > 0 && c->stepped < c->ramp.size() && countdown >= c->stepped)
                setReading(*c, c->ramp.value(c->stepped++));
            if (!c->removed && c->out.contains(QLatin1String("remove the test gas now"))) {
                setReading(*c, c->afterRemoval);
                c->removed = true;
            }
        }
        if (!running)
            return;
        QTest::qWait(100);
    }
    for (Case *c : cases)
        if (c->code < 0) {
            c->tlctl.kill();
            c->tlctl.waitForFinished(5000);
        }
}

QVector<Journal::Record> records(const QString &journal)
{
    QVector<Journal::Record> all;
    Journal::Database db;
    if (db.open(journal).ok())
        db.query(Journal::Filter{}, &all);
    return all;
}

// The function codes of the requests the simulator received.
QSet<int> functionsReceived(SimProcess &sim)
{
    QSet<int> functions;
    for (const QByteArray &frame : sim.rxFrames())
        if (frame.size() > 1)
            functions.insert(quint8(frame[1]));
    return functions;
}

QString pdfText(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<pdftotext failed: %1>").arg(QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

// "recorded as UUID (...)" of tlctl's output.
QString recordedUuid(const QString &out)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("recorded as ([0-9a-f-]{36})")).match(out);
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace

class TlctlCheckTest : public QObject
{
    Q_OBJECT
private slots:
    void checksJudgedRecordedAndReadOnly();
    void expiredCylinderNeedsConfirmation();
    void journalListsStartedWorkAndProtocolNeedsASession();
};

void TlctlCheckTest::checksJudgedRecordedAndReadOnly()
{
    // The sim's range is 0-100.0 PPM, Limit1 20.0 and Limit2 40.0; the test
    // gas is 50.0 PPM, the tolerance then +/-5.0.
    Case pass, low, limit2, expired, stopped;
    pass.name = QStringLiteral("pass");
    pass.ramp = {100, 300, 500};
    low.name = QStringLiteral("out of tolerance");
    low.ramp = {100, 300};          // settles at 60 % of the gas
    limit2.name = QStringLiteral("limit2");
    limit2.ramp = {100, 300, 460};  // within tolerance, short of Limit2 at 48.0
    expired.name = QStringLiteral("expired, accepted");
    expired.ramp = {100, 300, 500};
    expired.extra = QStringList{QStringLiteral("--expires"), QStringLiteral("2020-01-01"),
                                QStringLiteral("--accept-expired")};
    stopped.name = QStringLiteral("interrupted");
    stopped.ramp = {300};
    stopped.interrupt = true;
    // A folder where the journal's file should be: it cannot take the record.
    Case unrecorded;
    unrecorded.name = QStringLiteral("journal refused");
    unrecorded.ramp = {500};
    QVERIFY(QDir(unrecorded.dir.path()).mkpath(QStringLiteral("folder.sqlite")));
    unrecorded.journalIn = unrecorded.dir.filePath(QStringLiteral("folder.sqlite"));
    const QVector<Case *> cases{&pass, &low, &limit2, &expired, &stopped, &unrecorded};
    for (Case *c : cases) {
        QVERIFY(c->dir.isValid());
        QVERIFY2(c->sim.start(), qPrintable(c->name));
        QVERIFY(setReading(*c, 0));
    }
    bool ok = false;
    limit2.sim.send(QStringLiteral("set holding 0x1006 480"), &ok);
    QVERIFY(ok);
    // The detector of one case is in a site's register, with a tag and a
    // calibration interval of 30 days: the protocol takes both.
    const TlctlRun survey = runTlctl({QStringLiteral("site"), QStringLiteral("survey"), QStringLiteral("Plant"),
                                      QStringLiteral("--port"), low.sim.portPath(), QStringLiteral("--from"),
                                      QStringLiteral("1"), QStringLiteral("--to"), QStringLiteral("1"),
                                      QStringLiteral("--journal"), low.journal()},
                                     environmentFor(low.dir));
    QVERIFY2(survey.code == 0, qPrintable(survey.err));
    {
        Journal::Database db;
        QVERIFY(db.open(low.journal()).ok());
        Site::Register reg(db);
        Site::Info site;
        QVERIFY(reg.findSite(QStringLiteral("Plant"), &site).ok() && site.id != 0);
        QVERIFY(reg.setInterval(site.id, 30).ok());
        QVERIFY(reg.setTag(site.id, 4711, QStringLiteral("boiler room")).ok());
    }
    for (Case *c : cases)
        c->sim.clearLog();

    runAll(cases, 240000);

    for (Case *c : cases) {
        const QString said = c->name + QStringLiteral(":\n") + c->out + c->err;
        // Only reads went to the detector: no write of any kind.
        const QSet<int> functions = functionsReceived(c->sim);
        QVERIFY2(functions.contains(4), qPrintable(said));
        for (int write : {5, 6, 15, 16})
            QVERIFY2(!functions.contains(write), qPrintable(said));
        if (c == &stopped) {
            QVERIFY2(c->code == 130, qPrintable(said));
            QVERIFY2(records(c->journal()).isEmpty(), qPrintable(said));
            continue;
        }
        if (c == &unrecorded) {
            // The verdict stands; that it was not recorded is said, exit 6.
            QVERIFY2(c->code == 6 && c->out.contains(QLatin1String("PASSED")), qPrintable(said));
            QVERIFY2(c->err.contains(QLatin1String("not recorded in the journal")), qPrintable(said));
            QVERIFY(recordedUuid(c->out).isEmpty());
            continue;
        }
        QVERIFY2(c->code == (c == &pass || c == &expired ? 0 : 4), qPrintable(QString::number(c->code) + said));
        QVERIFY2(c->removed, qPrintable(said));

        // One record, whose details give the figures.
        const QVector<Journal::Record> all = records(c->journal());
        QVERIFY2(all.size() == 1, qPrintable(said));
        const Journal::Record &r = all.first();
        QCOMPARE(r.kind, QStringLiteral("function_check"));
        QCOMPARE(r.uuid, recordedUuid(c->out));
        QCOMPARE(r.serialText, QStringLiteral("TL02ID0004711"));
        QCOMPARE(r.level, QStringLiteral("Velta"));
        QVERIFY(!r.group.isEmpty());
        Protocol::Data d;
        QVERIFY2(Protocol::fromDetails(r.details, &d), qPrintable(r.details));
        QCOMPARE(d.kind, Protocol::Kind::FunctionCheck);
        QCOMPARE(d.gas.cylinder, QStringLiteral("C-1234"));
        QCOMPARE(d.check.gas, 50.0);
        QCOMPARE(d.result.baseline, 0.0);
        QCOMPARE(d.check.limits.limit1.value, 20.0);
        QVERIFY(d.result.stable);
        QVERIFY(d.result.limit1.crossed && d.result.limit1.returned);
        QVERIFY(d.result.t90 > 0 && d.result.t90 <= d.result.stableAt);
        QCOMPARE(r.ok, d.result.passed());
        if (c == &pass || c == &expired) {
            QCOMPARE(d.result.finalReading, 50.0);
            QCOMPARE(d.result.peak, 50.0);
            QVERIFY(d.result.limit2.crossed && d.result.limit2.returned);
            QVERIFY(r.ok && r.reason.isEmpty());
            QCOMPARE(d.device.tag, QString());
            QCOMPARE(d.nextDue, QDate::currentDate().addDays(180));
            QVERIFY2(c->out.contains(QLatin1String("PASSED")), qPrintable(said));
            QCOMPARE(d.expiredConfirmed, c == &expired);
        } else if (c == &low) {
            QCOMPARE(d.result.finalReading, 30.0);
            QVERIFY(!d.result.inTolerance);
            QVERIFY(d.result.reasons.contains(FunctionCheck::Reason::OutOfTolerance));
            QVERIFY2(r.reason.contains(QLatin1String("out of tolerance")), qPrintable(r.reason));
            QCOMPARE(d.device.tag, QStringLiteral("boiler room"));
            QCOMPARE(d.nextDue, QDate::currentDate().addDays(30));
        } else {
            QCOMPARE(d.result.finalReading, 46.0);
            QCOMPARE(d.check.limits.limit2.value, 48.0);
            QVERIFY(d.result.inTolerance);
            QCOMPARE(d.result.reasons, QVector<FunctionCheck::Reason>{FunctionCheck::Reason::Limit2NotCrossed});
            QCOMPARE(r.reason, QStringLiteral("limit2 was not crossed"));
            QVERIFY2(c->out.contains(QLatin1String("FAILED: limit2 was not crossed")), qPrintable(said));
        }
    }

    // The protocol from the journal alone, by the record's UUID or number.
    const QString pdf = pass.dir.filePath(QStringLiteral("check.pdf"));
    TlctlRun run = runTlctl({QStringLiteral("journal"), QStringLiteral("protocol"), recordedUuid(pass.out), pdf,
                             QStringLiteral("--journal"), pass.journal()},
                            environmentFor(pass.dir));
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QString text = pdfText(pdf);
    for (const QString &wanted : {QStringLiteral("Протокол проверки работоспособности"), QStringLiteral("ivanova"),
                                  QStringLiteral("C-1234"), QStringLiteral("TL02ID0004711"),
                                  QStringLiteral("ООО Газконтроль"), QStringLiteral("Прибор работоспособен"),
                                  recordedUuid(pass.out)})
        QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral(" not in:\n") + text));
    QVERIFY(!text.contains(QStringLiteral("Срок годности баллона истёк")));

    const QString lowPdf = low.dir.filePath(QStringLiteral("low.pdf"));
    run = runTlctl({QStringLiteral("journal"), QStringLiteral("protocol"), QStringLiteral("1"), lowPdf,
                    QStringLiteral("--journal"), low.journal()},
                   environmentFor(low.dir));
    QVERIFY2(run.code == 0, qPrintable(run.err));
    text = pdfText(lowPdf);
    QVERIFY2(text.contains(QStringLiteral("Прибор не прошёл проверку")) && text.contains(QStringLiteral("вне допуска")),
             qPrintable(text));

    const QString expiredPdf = expired.dir.filePath(QStringLiteral("expired.pdf"));
    run = runTlctl({QStringLiteral("journal"), QStringLiteral("protocol"), recordedUuid(expired.out), expiredPdf,
                    QStringLiteral("--journal"), expired.journal()},
                   environmentFor(expired.dir));
    QVERIFY2(run.code == 0, qPrintable(run.err));
    text = pdfText(expiredPdf);
    QVERIFY2(text.contains(QStringLiteral("Срок годности баллона истёк"))
                 && text.contains(QStringLiteral("Использование подтверждено исполнителем")),
             qPrintable(text));
}

void TlctlCheckTest::expiredCylinderNeedsConfirmation()
{
    // Without a terminal and without --accept-expired: refused before
    // anything goes to the device, and nothing is recorded.
    Case c;
    QVERIFY(c.dir.isValid());
    QVERIFY(c.sim.start());
    c.sim.clearLog();
    c.extra = QStringList{QStringLiteral("--expires"), QStringLiteral("2020-01-01")};
    const TlctlRun r = runTlctl(checkArguments(c), environmentFor(c.dir));
    QVERIFY2(r.code == 2, qPrintable(r.err));
    QVERIFY2(r.err.contains(QLatin1String("--accept-expired")) && r.err.contains(QLatin1String("2020-01-01")),
             qPrintable(r.err));
    QVERIFY(c.sim.allRequests().isEmpty());
    QVERIFY(records(c.journal()).isEmpty());

    // On a terminal tlctl asks; "no" makes no check either.
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        QSKIP("script(1) is not installed");
    QStringList line{tlctlPath()};
    line += checkArguments(c);
    for (QString &word : line)
        word = QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
    QProcess p;
    p.setProcessEnvironment(tlctlEnvironment(environmentFor(c.dir)));
    p.start(QStringLiteral("script"), {QStringLiteral("-qec"), line.join(QLatin1Char(' ')), QStringLiteral("/dev/null")});
    QVERIFY(p.waitForStarted());
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains("[y/N] ") && p.state() == QProcess::Running && clock.elapsed() < 60000) {
        p.waitForReadyRead(100);
        seen += p.readAll();
    }
    QVERIFY2(seen.contains("continue with an expired cylinder? [y/N] "), seen.constData());
    p.write("n\n");
    QVERIFY(p.waitForFinished(60000));
    seen += p.readAll();
    QVERIFY2(p.exitCode() == 2, seen.constData());
    QVERIFY(c.sim.allRequests().isEmpty());
    QVERIFY(records(c.journal()).isEmpty());
}

void TlctlCheckTest::journalListsStartedWorkAndProtocolNeedsASession()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString journal = dir.filePath(QStringLiteral("journal.sqlite"));
    // A write that ended (started, then its end in the same group), one that
    // never did, and a record of no session.
    auto add = [&](const QString &group, bool started, const QString &value) {
        Journal::Record r;
        r.kind = QStringLiteral("gas_zero");
        r.group = group;
        r.started = started;
        r.ok = !started;
        r.value = value;
        r.source = QStringLiteral("program");
        QVERIFY(Journal::append(r, journal).ok());
    };
    add(QStringLiteral("11111111-1111-4111-8111-111111111111"), true, QStringLiteral("ended"));
    add(QStringLiteral("11111111-1111-4111-8111-111111111111"), false, QStringLiteral("ended"));
    add(QStringLiteral("22222222-2222-4222-8222-222222222222"), true, QStringLiteral("cut off"));
    add(QString(), false, QStringLiteral("alone"));

    TlctlRun r = runTlctl({QStringLiteral("journal"), QStringLiteral("--journal"), journal});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("    gas zero, ended: started\n")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("    gas zero, ended: ok\n")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("    gas zero, cut off: NOT COMPLETED\n")), qPrintable(r.out));
    QVERIFY2(r.out.count(QStringLiteral("NOT COMPLETED")) == 1, qPrintable(r.out));

    // A protocol needs a session with its figures: none for a record of no
    // session, none for one that never got past its start, none for a
    // record that is not there.
    const QString pdf = dir.filePath(QStringLiteral("p.pdf"));
    for (const QString &id : {QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("99")}) {
        r = runTlctl({QStringLiteral("journal"), QStringLiteral("protocol"), id, pdf, QStringLiteral("--journal"),
                      journal});
        QVERIFY2(r.code == 6 && r.err.contains(QStringLiteral("tlctl: ")), qPrintable(id + r.err));
        QVERIFY(!QFile::exists(pdf));
    }
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("protocol"), QStringLiteral("1"),
                  dir.filePath(QStringLiteral("p.txt")), QStringLiteral("--journal"), journal});
    QCOMPARE(r.code, 2);
}

QTEST_GUILESS_MAIN(TlctlCheckTest)
#include "test_tlctl_check.moc"
