// The function check and the calibration session judged from readings given
// as data (time in ms), and their protocol as a PDF reader extracts it.
#include "functioncheck.h"
#include "protocol_gui.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

using namespace FunctionCheck;

namespace {

// A reading every second along straight lines through the knots.
QVector<Sample> curve(const QVector<QPair<qint64, double>> &knots)
{
    QVector<Sample> out;
    for (int i = 0; i + 1 < knots.size(); ++i) {
        const auto a = knots[i], b = knots[i + 1];
        for (qint64 t = a.first; t < b.first; t += 1000)
            out.push_back({t, a.second + (b.second - a.second) * double(t - a.first) / double(b.first - a.first)});
    }
    out.push_back({knots.last().first, knots.last().second});
    return out;
}

// Gas on at 5 s, the reading at `top` from 24 s, gas off at 60 s, back by 79 s.
QVector<Sample> bump(double base, double top)
{
    return curve({{0, base}, {5000, base}, {24000, top}, {60000, top}, {79000, base}, {90000, base}});
}

CheckSetup methane(double limit2)
{
    CheckSetup s;
    s.gas = 50;
    s.limits.rangeMax = 100;
    s.limits.limit1 = {21, false, true};
    s.limits.limit2 = {limit2, false, true};
    s.gasApplied = 5000;
    s.gasRemoved = 60000;
    return s;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

} // namespace

class TestFunctionCheck : public QObject
{
    Q_OBJECT
private slots:
    void toleranceStabilityGasAndDue()
    {
        const Tolerance t;
        QCOMPARE(t.allowed(80, 0, 100), 8.0);   // 10 % of the gas
        QCOMPARE(t.allowed(20, 0, 100), 5.0);   // 5 % of the range
        QVERIFY(t.within(45.0, 50, 0, 100) && !t.within(44.9, 50, 0, 100) && !t.within(55.1, 50, 0, 100));

        StabilityWatch w(0, 100);
        QCOMPARE(w.secondsLeft(), 10);
        w.add(0, 10.0);
        w.add(1000, 10.5);
        w.add(4000, 10.2);
        QVERIFY(!w.stable());
        QCOMPARE(w.secondsLeft(), 6);
        w.add(5000, 13.0);                      // a jump starts the countdown again
        QCOMPARE(w.secondsLeft(), 10);
        w.add(14000, 13.4);
        QCOMPARE(w.secondsLeft(), 1);
        w.add(15000, 13.0);
        QVERIFY(w.stable());
        QCOMPARE(w.stableSince(), qint64(15000));
        QCOMPARE(w.secondsLeft(), 0);
        w.add(16000, 13.9);                     // within 1 % of the range: still since 15 s
        QCOMPARE(w.stableSince(), qint64(15000));
        w.add(17000, 12.5);
        QVERIFY(!w.stable());
        QCOMPARE(w.secondsLeft(), 10);

        TestGas gas{QStringLiteral("Метан"), 50, QStringLiteral("%LEL"), QStringLiteral("Б-0412"), QDate(2026, 12, 1)};
        QVERIFY(!gas.expired(QDate(2026, 12, 1)) && gas.expired(QDate(2026, 12, 2)));
        gas.expiry = QDate();
        QVERIFY(!gas.expired(QDate(2030, 1, 1)));
        QCOMPARE(nextDue(QDate(2026, 12, 8)), QDate(2027, 6, 6));
        QCOMPARE(nextDue(QDate(2026, 12, 8), 90), QDate(2027, 3, 8));
    }

    void functionCheckVerdicts()
    {
        // Pass: both thresholds crossed on the way up and left after the gas.
        CheckResult r = analyse(methane(41), bump(0, 50));
        QVERIFY(r.passed());
        QCOMPARE(r.peak, 50.0);
        QCOMPARE(r.peakAt, qint64(19000));
        QCOMPARE(r.stableAt, qint64(29000));
        QCOMPARE(r.t90, qint64(18000));
        QCOMPARE(r.limit1.crossedAt, qint64(8000));
        QCOMPARE(r.limit2.crossedAt, qint64(16000));
        QCOMPARE(r.limit2.returnedAt, qint64(4000));
        QCOMPARE(r.limit1.returnedAt, qint64(12000));

        // Reads 42 on 50: out of tolerance, thresholds fine.
        QCOMPARE(analyse(methane(41), bump(0, 42)).reasons, QVector<Reason>{Reason::OutOfTolerance});
        // Reads 47 (in tolerance) but Limit2 at 48 never trips.
        r = analyse(methane(48), bump(0, 47));
        QCOMPARE(r.reasons, QVector<Reason>{Reason::Limit2NotCrossed});
        QVERIFY(r.limit2.expected && !r.limit2.crossed && r.limit1.crossed);
        // A threshold the test gas does not reach is not asked to trip.
        r = analyse(methane(60), bump(0, 50));
        QVERIFY(r.passed() && !r.limit2.expected && !r.limit2.crossed);
        // Gas never removed: the thresholds crossed are not left.
        CheckSetup open = methane(41);
        open.gasRemoved = -1;
        QVERIFY(analyse(open, bump(0, 50)).reasons.contains(Reason::NotReturned));

        // Oxygen: thresholds decreasing (the block's direction bit), crossed downwards from 20.9 %VOL.
        ParamBlock block{};
        block.Config = 0x0013;   // %VOL, one decimal
        block.ValueMax = 300;
        block.Limit1 = 0x8000 | 195;
        block.Limit2 = 0x8000 | 180;
        CheckSetup o2;
        o2.gas = 15.0;
        o2.limits = limitsOf(block);
        QVERIFY(o2.limits.limit1.decreasing && o2.limits.limit2.decreasing);
        QCOMPARE(o2.limits.limit2.value, 18.0);
        o2.gasApplied = 5000;
        o2.gasRemoved = 60000;
        r = analyse(o2, bump(20.9, 15.0));
        QVERIFY2(r.passed(), qPrintable(QString::number(r.reasons.size())));
        QCOMPARE(r.peak, 15.0);
        QVERIFY(r.limit1.crossedAt > 0 && r.limit1.crossedAt < r.limit2.crossedAt);
        QVERIFY(r.limit1.returned && r.limit2.returned);
        // A reading that only rises (the wrong way) trips neither.
        r = analyse(o2, bump(20.9, 25.0));
        QVERIFY(!r.limit1.crossed && r.reasons.contains(Reason::Limit1NotCrossed));

        // Swinging by ±3 every second: never settles.
        QVector<Sample> swing;
        for (int i = 0; i <= 60; ++i)
            swing.push_back({5000 + i * 1000, 50.0 + (i % 2 ? 3 : -3)});
        r = analyse(methane(41), swing);
        QVERIFY(!r.stable && r.reasons.contains(Reason::NotStable));
        // Settling, but later than allowed.
        CheckSetup slow = methane(41);
        slow.stableWithinMs = 20000;
        QCOMPARE(analyse(slow, bump(0, 50)).reasons, QVector<Reason>{Reason::NotStable});
        QCOMPARE(analyse(methane(41), {}).reasons, QVector<Reason>{Reason::NoReadings});
    }

    void calibrationSession()
    {
        CalibrationSession s;
        s.limits.rangeMax = 100;
        s.spanGas = 50;
        s.foundZero = 3.0;
        s.foundSpan = 41.0;
        QCOMPARE(s.reasons(), QVector<Reason>{Reason::AsLeftMissing});
        QCOMPARE(int(s.judge(s.foundZero, 0)), int(CalibrationSession::Judgement::Within));
        QCOMPARE(int(s.judge(s.foundSpan, 50)), int(CalibrationSession::Judgement::Outside));
        s.leftZero = 0.2;
        s.leftSpan = 44.0;
        QCOMPARE(s.reasons(), QVector<Reason>{Reason::AsLeftOutOfTolerance});
        s.leftSpan = 50.4;
        QVERIFY(s.passed());
        s.leftZero = -6.0;
        QVERIFY(!s.passed());
    }

    void protocols()
    {
        QTemporaryDir dir;
        dir.setAutoRemove(qEnvironmentVariableIsEmpty("TL_KEEP_PROTOCOLS"));
        Protocol::Data cal;
        cal.time = QDateTime(QDate(2026, 12, 8), QTime(14, 30));
        cal.organisation = QStringLiteral("ООО «Газконтроль», сервисный участок котельных и насосных станций Северного района");
        cal.technician = QStringLiteral("Петров П. П.");
        cal.device = {1, QStringLiteral("TL02ID0004711"), QStringLiteral("2.14"), 5, QStringLiteral("Котельная, у входа")};
        cal.unit = QStringLiteral("%LEL");
        cal.gas = {QStringLiteral("Метан"), 50, QStringLiteral("%LEL"), QStringLiteral("Б-0412"), QDate(2026, 11, 30)};
        cal.expiredConfirmed = true;
        cal.calibration.limits = methane(41).limits;
        cal.calibration.limits.decimals = 1;
        cal.calibration.spanGas = 50;
        cal.calibration.foundZero = 1.2;
        cal.calibration.foundSpan = 41.0;
        cal.calibration.leftZero = 0.0;
        cal.calibration.leftSpan = 49.8;
        cal.before.ADCCode4m = 812;
        cal.after = cal.before;
        cal.after.ADCCode4m = 799;
        cal.nextDue = nextDue(cal.time.date());
        // Three records (zero, span, as left), the last two chained already: still one page.
        const QString hash = QStringLiteral("a94f5e0c77d8b9e1f2a3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6f70819");
        cal.records = {{QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301"), QString()},
                       {QStringLiteral("6fa459ea-ee8a-3ca4-894e-db77e160355e"), hash},
                       {QStringLiteral("16fd2706-8baf-433b-82eb-8c7fada847da"), hash}};

        Protocol::Data check = cal;
        check.kind = Protocol::Kind::FunctionCheck;
        check.gas.expiry = QDate(2027, 6, 1);
        check.check = methane(48);
        check.check.gas = 50;
        check.result = analyse(check.check, bump(0, 47));
        // "ff" in an id must come out as two letters, not a ligature.
        check.records = {{QStringLiteral("9b1deb4d-3b7d-4bad-9bdd-2b0d7b3dcbff"),
                          QStringLiteral("ff4f5e0c77d8b9e1f2a3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6f708ff")}};

        const auto text = [&](const Protocol::Data &d, const QString &name) {
            const QString pdf = dir.filePath(name);
            QString error;
            if (!Protocol::writePdf(d, pdf, &error))
                return error;
            if (!run(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))))
                return QStringLiteral("not one page");
            return run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).simplified();
        };
        const auto expect = [](const QString &out, const QStringList &words) {
            for (const QString &w : words)
                QVERIFY2(out.contains(w), qPrintable(w + QStringLiteral(" not in:\n") + out));
        };
        expect(text(cal, QStringLiteral("cal.pdf")),
               {QStringLiteral("Протокол калибровки"), cal.technician, QStringLiteral("Б-0412"),
                QStringLiteral("Срок годности баллона истёк"), QStringLiteral("Использование подтверждено"),
                QStringLiteral("Значение АЦП 4 мА 812 799"), QStringLiteral("Калибровка выполнена, прибор в допуске"),
                QStringLiteral("06.06.2027"), cal.records[0].uuid, QStringLiteral("хеш будет присвоен сервером")});
        const QString out = text(check, QStringLiteral("check.pdf"));
        expect(out, {QStringLiteral("Протокол проверки работоспособности"), QStringLiteral("Б-0412"),
                     QStringLiteral("Порог 2"), QStringLiteral("Прибор не прошёл проверку: порог 2 не сработал"),
                     check.records[0].uuid, check.records[0].hash});
        QVERIFY(!out.contains(QStringLiteral("истёк")) && !out.contains(QStringLiteral("adc_")));

        QTranslator english;
        QVERIFY(english.load(QStringLiteral(TL_RUNTIME_DIR "/TL_Program_en_US.qm")));
        QCoreApplication::installTranslator(&english);
        expect(text(check, QStringLiteral("check_en.pdf")),
               {QStringLiteral("Function check report"), QStringLiteral("Threshold 2"),
                QStringLiteral("threshold 2 did not trip"), check.records[0].uuid});
        expect(text(cal, QStringLiteral("cal_en.pdf")),
               {QStringLiteral("Calibration report"), QStringLiteral("ADC code at 4 mA"),
                QStringLiteral("will be assigned by the server")});
        QCoreApplication::removeTranslator(&english);
    }
};

QTEST_MAIN(TestFunctionCheck)
#include "test_functioncheck.moc"
