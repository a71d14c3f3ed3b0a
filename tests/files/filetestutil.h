// Small helpers shared by the file and firmware tests.
#pragma once

#include "testdata.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <csignal>
#include <functional>
#include <sys/resource.h>

// A function 14 request: addr, 0x0E, 4 address bytes MSB first, length, data, CRC.
struct BlockFrame {
    quint32 address;
    int length;
    QByteArray data;
};

inline QList<BlockFrame> blockFrames(const QList<QByteArray> &frames)
{
    QList<BlockFrame> out;
    for (const QByteArray &f : frames) {
        if (f.size() < 9 || quint8(f[1]) != 0x0E)
            continue;
        out << BlockFrame{quint32(quint8(f[2])) << 24 | quint32(quint8(f[3])) << 16
                              | quint32(quint8(f[4])) << 8 | quint32(quint8(f[5])),
                          quint8(f[6]), f.mid(7, f.size() - 9)};
    }
    return out;
}

// Runs `action` with the process's file-size limit at `bytes`, so that a
// write beyond it fails as on a full disk.  False when the limit could not
// be set.
inline bool withFileSizeLimit(rlim_t bytes, const std::function<void()> &action)
{
    struct rlimit old {};
    if (getrlimit(RLIMIT_FSIZE, &old) != 0)
        return false;
    struct rlimit small = old;
    small.rlim_cur = bytes;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, oldHandler);
        return false;
    }
    action();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return true;
}
