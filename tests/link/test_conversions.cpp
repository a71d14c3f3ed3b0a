// Field <-> display conversions and the access-level table.
#include "accesslevels.h"
#include "conversions.h"

#include <QtTest>
#include <clocale>
#include <cstring>

class TestConversions : public QObject
{
    Q_OBJECT
private slots:
    void scaledValuesRoundHalfToEven()
    {
        QCOMPARE(Conv::toScaled(1.25, 10), quint16(12));
        QCOMPARE(Conv::toScaled(1.35, 10), quint16(14));
        QCOMPARE(Conv::toScaled(2.5, 1), quint16(2));
        QCOMPARE(Conv::toScaled(3.5, 1), quint16(4));
        QCOMPARE(Conv::toScaled(655.35, 100), quint16(65535));
        QCOMPARE(Conv::toScaled(700.0, 100), quint16(65535));   // kept in 16 bits
        QCOMPARE(Conv::toScaled(-1.0, 10), quint16(0));
        QCOMPARE(Conv::scaleFromConfig(0x0000), quint16(1));
        QCOMPARE(Conv::scaleFromConfig(0x0610), quint16(10));
        QCOMPARE(Conv::scaleFromConfig(0x0020), quint16(100));
        QCOMPARE(Conv::scaleFromConfig(0xFFFF), quint16(1000));
    }

    void configBitsChangeAlone()
    {
        const quint16 config = 0x0613;   // unit 3, decimals 1, both auto-resets
        QCOMPARE(Conv::withDecimals(config, 2), quint16(0x0623));
        QCOMPARE(Conv::withUnit(config, 1), quint16(0x0611));
        QCOMPARE(Conv::withBit(config, 9, false), quint16(0x0413));
        QVERIFY(Conv::autoReset2(config));
    }

    void thresholdsKeepValueAndDirectionApart()
    {
        quint16 w = Conv::limitWithDirection(0, true);
        w = Conv::limitWithValue(w, 12.5, 100);
        QCOMPARE(w, quint16(0x84E2));
        QCOMPARE(Conv::limitShown(w, 100), 12.5);
        QVERIFY(Conv::limitDecreasing(w));
        // A new value never touches bit 15; a direction change never touches the value.
        QCOMPARE(Conv::limitWithValue(w, 3.0, 100), quint16(0x8000 | 300));
        QCOMPARE(Conv::limitWithDirection(w, false), quint16(1250));
        QCOMPARE(Conv::limitWithValue(0, 400.0, 100), quint16(0x7FFF));
        QCOMPARE(Conv::limitWithValue(0x8000, 20.0, 10), quint16(200 + 32768));
    }

    void delaysAndRawValues()
    {
        QCOMPARE(Conv::delaySeconds(1500), 1);
        QCOMPARE(Conv::delayFromSeconds(1.0), quint16(1000));
        QCOMPARE(Conv::delayFromSeconds(20.0), quint16(20000));
        QCOMPARE(Conv::rawFromDouble(123.9), quint16(123));
        QCOMPARE(Conv::serialFromDouble(999999999.7), qint32(999999999));
        QCOMPARE(Conv::serialFromDouble(-5.5), qint32(-5));
    }

    void displayTexts()
    {
        QCOMPARE(Conv::serialText(4711, 1), QStringLiteral("TL02ID0004711"));
        QCOMPARE(Conv::serialText(4711, 2), QStringLiteral("TL02UD0004711"));
        QCOMPARE(Conv::serialText(-123456789, 1), QStringLiteral("TL02ID-12345678"));
        QCOMPARE(Conv::serialText(-5, 1), QStringLiteral("TL02ID-000005"));
        QCOMPARE(Conv::boardVersionText(123), QStringLiteral("1.23"));
        QCOMPARE(Conv::boardVersionText(5), QStringLiteral("0.05"));
        char field[6] = {'A', 'B', 'C', 'D', 'E', 'F'};   // no terminator inside
        QCOMPARE(Conv::fieldText(field, 6), QStringLiteral("ABCDEF"));
        const char utf8[] = "Метан";
        QCOMPARE(Conv::fieldText(utf8, sizeof utf8), QStringLiteral("Метан"));
    }

    void writeCountRule()
    {
        char v[40] = {};
        auto set = [&](const char *t) { std::memset(v, 0, sizeof v); std::strncpy(v, t, sizeof v - 1); };
        set("1.05");
        QCOMPARE(Conv::writeCountFor(v, sizeof v, 1), quint16(27));
        QCOMPARE(Conv::writeCountFor(v, sizeof v, 2), quint16(48));
        set("1.06");
        QCOMPARE(Conv::writeCountFor(v, sizeof v, 1), quint16(48));
        set("v1.10");
        QCOMPARE(Conv::writeCountFor(v, sizeof v, 1), quint16(27));
        set("1.07 beta");
        QCOMPARE(Conv::leadingNumber(v, sizeof v), 1.07);
        set("  2.5e1x");
        QCOMPARE(Conv::leadingNumber(v, sizeof v), 25.0);
        set("-.5");
        QCOMPARE(Conv::leadingNumber(v, sizeof v), -0.5);
        set(".");
        QCOMPARE(Conv::leadingNumber(v, sizeof v), 0.0);
        std::memset(v, '9', sizeof v);   // no terminator at all
        QVERIFY(Conv::leadingNumber(v, sizeof v) > 1e39);
    }

    void versionParseIgnoresLocale()
    {
        // A locale with a decimal comma must not change how "1.06" reads.
        const char *saved = std::setlocale(LC_ALL, nullptr);
        const QByteArray keep = saved ? QByteArray(saved) : QByteArray("C");
        const bool have = std::setlocale(LC_ALL, "ru_RU.UTF-8") || std::setlocale(LC_ALL, "de_DE.UTF-8");
        char v[40] = "1.06";
        const double n = Conv::leadingNumber(v, sizeof v);
        std::setlocale(LC_ALL, keep.constData());
        QCOMPARE(n, 1.06);
        if (!have)
            qInfo("no comma locale installed; parsed in the C locale only");
    }

    void credentials()
    {
        QCOMPARE(Access::levelFor(QStringLiteral("User"), QStringLiteral("7529")), QStringLiteral("User"));
        QCOMPARE(Access::levelFor(QStringLiteral("Admin"), QStringLiteral("9641")), QStringLiteral("Admin"));
        QCOMPARE(Access::levelFor(QStringLiteral("Velta"), QStringLiteral("8350")), QStringLiteral("Velta"));
        QVERIFY(Access::levelFor(QStringLiteral("user"), QStringLiteral("7529")).isEmpty());
        QVERIFY(Access::levelFor(QStringLiteral("Admin"), QStringLiteral("7529")).isEmpty());
        QVERIFY(Access::levelFor(QStringLiteral("Velta"), QString()).isEmpty());
        QVERIFY(Access::levelFor(QStringLiteral("Noname"), QStringLiteral("7529")).isEmpty());
        QVERIFY(Access::factoryPasswordAccepted(QStringLiteral("5916")));
        QVERIFY(!Access::factoryPasswordAccepted(QStringLiteral("5917")));
        QVERIFY(!Access::serialNumberEditable(QStringLiteral("User")));
        QVERIFY(Access::serialNumberEditable(QStringLiteral("Velta")));
    }
};

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
