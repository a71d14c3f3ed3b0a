// The simulated detector as the benchmarks run it: started quietly, its
// complaints on our stderr, stopped on destruction.
#pragma once

#include "simlauncher.h"

#include <QString>
#include <QStringList>

#include <cstdio>

struct BenchSim {
    SimLauncher launcher;
    QString port;
    bool start(const QString &path, const QStringList &args)
    {
        launcher.setForwardErrors(true);
        if (!launcher.start(path, args + QStringList{QStringLiteral("--quiet")})) {
            std::fprintf(stderr, "%s\n", qPrintable(launcher.errorString()));
            return false;
        }
        port = launcher.portPath();
        return true;
    }
};
