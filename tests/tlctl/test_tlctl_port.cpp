// How tlctl turns a --port (or TLCTL_PORT) text into what the link opens:
// network addresses stay as they are, relative paths come from the working
// directory, bare names mean /dev.
#include "command.h"
#include "session.h"

#include <QtTest>

using namespace Tlctl;

class TestTlctlPort : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        qunsetenv("TLCTL_PORT");
    }

    void resolution_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");   // "CWD/" stands for the working directory
        QTest::newRow("tcp") << "tcp://127.0.0.1:5020" << "tcp://127.0.0.1:5020";
        QTest::newRow("modbus-tcp") << "modbus-tcp://gateway.local:502" << "modbus-tcp://gateway.local:502";
        QTest::newRow("scheme in capitals") << "TCP://10.0.0.7:4001" << "TCP://10.0.0.7:4001";
        QTest::newRow("ipv6 host") << "modbus-tcp://[::1]:502" << "modbus-tcp://[::1]:502";
        QTest::newRow("one slash is a path") << "tcp:/x" << "CWD/tcp:/x";
        QTest::newRow("relative path") << "links/../links/tl02" << "CWD/links/tl02";
        QTest::newRow("absolute path") << "/dev/ttyUSB7" << "/dev/ttyUSB7";
        QTest::newRow("bare name") << "ttyUSB7" << "/dev/ttyUSB7";
        QTest::newRow("bare name found only here") << "tl02-here" << "CWD/tl02-here";
    }

    void resolution()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QTemporaryDir cwd;
        QVERIFY(cwd.isValid());
        QFile here(cwd.filePath(QStringLiteral("tl02-here")));
        QVERIFY(here.open(QIODevice::WriteOnly));
        here.close();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        const QString resolved = resolvePortPath(given);
        const QString base = QDir::currentPath();
        QDir::setCurrent(previous);
        QCOMPARE(resolved, QString(expected).replace(QStringLiteral("CWD/"), base + QLatin1Char('/')));
    }

    // The session opens what it was given: from --port and from TLCTL_PORT.
    void sessionKeepsNetworkAddresses()
    {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        Io io{outStream, errStream, false, false, nullptr, nullptr};
        const QString address = QStringLiteral("tcp://127.0.0.1:1");
        {
            Options o;
            o.port = address;
            Session s(o, io);
            s.open();
            QCOMPARE(s.portPath(), address);
        }
        qputenv("TLCTL_PORT", "modbus-tcp://127.0.0.1:1");
        {
            Options o;
            Session s(o, io);
            s.open();
            QCOMPARE(s.portPath(), QStringLiteral("modbus-tcp://127.0.0.1:1"));
        }
        QVERIFY2(!err.contains(QLatin1String("/dev/")), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestTlctlPort)
#include "test_tlctl_port.moc"
