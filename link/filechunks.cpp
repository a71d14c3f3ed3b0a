#include "filechunks.h"

#include <QIODevice>

#include <cmath>

qint64 readBinaryChunk(QIODevice *device, quint8 *buffer, quint64 &count, qint64 position)
{
    count = 0;
    if (!device || position < 0 || !device->seek(position))
        return -1;
    const qint64 n = device->read(reinterpret_cast<char *>(buffer), BinaryChunkBytes);
    if (n < 0)
        return -1;
    count = quint64(n);
    if (device->atEnd())
        return 0;
    return position + n;
}

namespace Countdown {

int percent(qint64 position, qint64 size)
{
    if (size <= 0 || position <= 0)
        return 0;
    const double p = double(position) * (100.0 / double(size));
    if (!(p < 1e9))
        return 100;
    return int(p);
}

double secondsLeft(qint64 elapsedMs, int percent)
{
    if (percent <= 0)
        return 0.0;
    return double(elapsedMs) / 1000.0 * double(100 - percent) / double(percent);
}

quint16 wholeSecondsLeft(qint64 elapsedMs, int percent)
{
    const double s = secondsLeft(elapsedMs, percent);
    if (!std::isfinite(s) || s <= -9.0e18 || s >= 9.0e18)
        return 0;
    return quint16(qint64(s));
}

} // namespace Countdown
