// Reading a file in binary chunks and following the progress of a long file
// operation.  The firmware transfer needs both; the parameter-file helpers
// (files/hexfile.h) use the same.
#pragma once

#include <QtGlobal>
#include <functional>

class QIODevice;

// Bytes of one binary chunk: one firmware block.
constexpr int BinaryChunkBytes = 200;

// Reads up to BinaryChunkBytes bytes from `position` into `buffer` and sets
// `count` to the number read.  Returns position + count, 0 when the device
// is at its end after the read (so the last chunk comes with 0), or -1 when
// the device reported a read error (count is then 0).
qint64 readBinaryChunk(QIODevice *device, quint8 *buffer, quint64 &count, qint64 position);

// Progress arithmetic shared by the loading loop and the firmware transfer.
namespace Countdown {
// position × (100 / size), in floating point, truncated; 0 for an empty size.
int percent(qint64 position, qint64 size);
// Seconds left: elapsed seconds × (100 − percent) / percent; 0 for percent 0.
double secondsLeft(qint64 elapsedMs, int percent);
// The firmware form of the same: taken as an integer, then as 16 bits.
quint16 wholeSecondsLeft(qint64 elapsedMs, int percent);
} // namespace Countdown

// Hooks through which a caller follows (and may stop) a long file operation.
// Both are optional.
struct ProgressHooks {
    // Before each step (a line, a block), with the share done so far
    // (0..100).  Returning false cancels the operation before that step.
    std::function<bool(int percent)> beforeStep;
    // After each step: the percent given to beforeStep, the position the
    // step reached (0 once the end of the file is reached) and the size.
    std::function<void(int percent, qint64 position, qint64 size)> afterStep;
};
