// The simulated detector as the benchmarks run it: started quietly, its
// serial end read from the first line it prints, stopped on destruction.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

struct BenchSim {
    QProcess proc;
    QString port;
    bool start(const QString &path, const QStringList &args)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(path, args + QStringList{QStringLiteral("--quiet")});
        if (!proc.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        QByteArray buf;
        while (t.elapsed() < 10000) {
            proc.waitForReadyRead(100);
            buf += proc.readAllStandardOutput();
            const int i = buf.indexOf("PORT ");
            const int nl = buf.indexOf('\n', i);
            if (i >= 0 && nl > i) {
                port = QString::fromLatin1(buf.mid(i + 5, nl - i - 5)).trimmed();
                return true;
            }
        }
        return false;
    }
    ~BenchSim()
    {
        proc.write("quit\n");
        if (!proc.waitForFinished(2000))
            proc.kill();
    }
};
