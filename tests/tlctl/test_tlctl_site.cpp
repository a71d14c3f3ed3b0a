// tlctl site: a survey of two multi-drop lines fills the register and says
// what changed; the listings read it back.  Only reads reach the detectors.
#include "simprocess.h"
#include "tlctlrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

class TlctlSiteTest : public QObject
{
    Q_OBJECT
private slots:
    void surveyFillsTheRegister()
    {
        QTemporaryDir home;
        const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home.path()}};
        SimProcess a;
        SimProcess b;
        QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("2,6")}));
        QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("4")}));
        const QString site = QStringLiteral("Котельная");

        TlctlRun r = runTlctl({QStringLiteral("site"), QStringLiteral("survey"), site, QStringLiteral("--port"),
                               a.portPath(), QStringLiteral("--port"), b.portPath()}, env, 180000);
        QCOMPARE(r.code, 0);
        for (const QString &serial : {QStringLiteral("0100002"), QStringLiteral("0100006"), QStringLiteral("0100004")})
            QVERIFY2(r.out.contains(QStringLiteral("new      TL02ID") + serial), qPrintable(r.out));
        for (SimProcess *sim : {&a, &b})
            for (const QByteArray &f : sim->allRequests())
                QVERIFY2(f[1] == 3 || f[1] == 4 || f[1] == 43, f.toHex().constData());

        // The second survey, without line B.
        r = runTlctl({QStringLiteral("site"), QStringLiteral("survey"), site, QStringLiteral("--port"), a.portPath(),
                      QStringLiteral("--json")}, env, 180000);
        QCOMPARE(r.code, 0);
        const QJsonObject j = r.json();
        QCOMPARE(j.value(QStringLiteral("new")).toArray().size(), 0);
        const QJsonArray missing = j.value(QStringLiteral("missing")).toArray();
        QCOMPARE(missing.size(), 1);
        QCOMPARE(missing[0].toObject().value(QStringLiteral("serial")).toString(), QStringLiteral("TL02ID0100004"));

        r = runTlctl({QStringLiteral("site"), QStringLiteral("list"), QStringLiteral("--json")}, env);
        const QJsonArray sites = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(sites.size(), 1);
        QCOMPARE(sites[0].toObject().value(QStringLiteral("detectors")).toInt(), 3);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("show"), site}, env);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count(QStringLiteral("never calibrated")), 3);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("show"), QStringLiteral("nowhere")}, env);
        QCOMPARE(r.code, 2);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("due")}, env);
        QCOMPARE(r.out, QStringLiteral("no detector is due within 30 days\n"));
    }
};

QTEST_GUILESS_MAIN(TlctlSiteTest)
#include "test_tlctl_site.moc"
