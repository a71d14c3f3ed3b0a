// Runs the built tlctl binary for a test and collects what it said.
#pragma once

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

struct TlctlRun {
    int code = -1;
    QString out;
    QString err;
    qint64 ms = 0;
    bool finished = false;

    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    // stderr holds exactly one line that starts with "tlctl: ".
    bool oneErrorLine() const
    {
        const QStringList lines = err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.size() == 1 && lines[0].startsWith(QLatin1String("tlctl: "));
    }
};

inline QString tlctlPath() { return QStringLiteral(TL_RUNTIME_DIR "/tlctl"); }

// The test's own environment without any TLCTL_* variable, plus `env`.
inline QProcessEnvironment tlctlEnvironment(const QMap<QString, QString> &env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &k : e.keys())
        if (k.startsWith(QLatin1String("TLCTL_")))
            e.remove(k);
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    return e;
}

// tlctl runs in tlctlEnvironment(env), and in `workDir` when one is given.
inline TlctlRun runTlctl(const QStringList &args, const QMap<QString, QString> &env = {}, int timeoutMs = 60000,
                         const QString &workDir = QString())
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.setProcessEnvironment(tlctlEnvironment(env));
    TlctlRun r;
    QElapsedTimer clock;
    clock.start();
    p.start(tlctlPath(), args);
    p.closeWriteChannel();
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    r.ms = clock.elapsed();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QMap<QString, QString> password(const QString &pw) { return {{QStringLiteral("TLCTL_PASSWORD"), pw}}; }
