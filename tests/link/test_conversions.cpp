// Field <-> display conversions and the access-level table.
#include "accesslevels.h"
#include "conversions.h"

#include <QLocale>
#include <QtTest>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>

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
        // Under a locale with a decimal comma (the C library's, the C++
        // global one and Qt's default) "1.06" still reads as 1.06 and picks
        // the 48-register block.  Without such a locale the case is skipped:
        // in the C locale it could not fail.
        const QByteArray keepC(std::setlocale(LC_ALL, nullptr));
        const char *comma = nullptr;
        for (const char *name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                comma = name;
                break;
            }
        }
        if (!comma) {
            std::setlocale(LC_ALL, keepC.constData());
            QSKIP("no locale with a decimal comma is installed (tried ru_RU.UTF-8, de_DE.UTF-8, fr_FR.UTF-8; "
                  "scripts/test generates ru_RU.UTF-8)");
        }
        const std::locale keepCpp = std::locale::global(std::locale(comma));
        const QLocale keepQt;
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

        const double plain = std::strtod("1.06", nullptr);
        char v[40] = "1.06";
        const double n = Conv::leadingNumber(v, sizeof v);
        const quint16 count = Conv::writeCountFor(v, sizeof v, 1);

        QLocale::setDefault(keepQt);
        std::locale::global(keepCpp);
        std::setlocale(LC_ALL, keepC.constData());
        QCOMPARE(plain, 1.0);   // the comma locale was in force: strtod stops at the dot
        QCOMPARE(n, 1.06);
        QCOMPARE(count, quint16(48));
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
