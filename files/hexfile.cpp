#include "hexfile.h"

#include <QByteArray>
#include <QIODevice>
#include <QSaveFile>

#include <cmath>
#include <vector>

bool writeHexLines(QIODevice *device, const quint8 *bytes, qint64 length, int lineLength)
{
    if (!device || length <= 0)
        return true;
    if (lineLength <= 0)
        lineLength = HexFile::LineBytes;
    static const char digits[] = "0123456789ABCDEF";
    QByteArray line;
    line.reserve(lineLength * 2 + 2);
    for (qint64 i = 1; i <= length; ++i) {
        const quint8 b = bytes[i - 1];
        line.append(digits[b >> 4]);
        line.append(digits[b & 0x0F]);
        if (i % lineLength == 0 || i == length) {
            line.append("\r\n", 2);
            if (device->write(line) != line.size())
                return false;
            line.clear();
        }
    }
    return true;
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void decodeHexText(const QByteArray &line, quint8 *destination, quint64 &count, quint64 capacity)
{
    // Only the text before the first NUL counts; ":" and any other non-hex
    // character are skipped.
    std::vector<quint8> nibbles;
    nibbles.reserve(size_t(line.size()));
    for (const char c : line) {
        if (c == '\0')
            break;
        const int v = hexValue(c);
        if (v >= 0)
            nibbles.push_back(quint8(v));
    }
    // Digits pair up from the end of the line: with an odd number of digits
    // the first one is a byte of its own.
    size_t i = 0;
    const auto append = [&](quint8 b) {
        if (count < capacity)
            destination[count++] = b;
    };
    if (nibbles.size() % 2 == 1)
        append(nibbles[i++]);
    for (; i + 1 < nibbles.size(); i += 2)
        append(quint8(nibbles[i] << 4 | nibbles[i + 1]));
}

qint64 readHexLine(QIODevice *device, quint8 *destination, quint64 &count, qint64 position,
                   quint64 capacity)
{
    if (!device || position < 0 || !device->seek(position) || device->atEnd())
        return 0;
    // One line, terminator included: LF, CR LF, or a lone CR.  A CR CR LF
    // ending thus gives an empty line after this one, which decodes to nothing.
    QByteArray line;
    char c = 0;
    while (device->getChar(&c)) {
        line.append(c);
        if (c == '\n')
            break;
        if (c == '\r') {
            char next = 0;
            if (device->peek(&next, 1) == 1 && next == '\n') {
                device->getChar(&next);
                line.append(next);
            }
            break;
        }
    }
    const qint64 after = device->pos();
    decodeHexText(line, destination, count, capacity);
    return after;
}

qint64 readBinaryChunk(QIODevice *device, quint8 *buffer, quint64 &count, qint64 position)
{
    count = 0;
    if (!device || position < 0 || !device->seek(position))
        return -1;
    const qint64 n = device->read(reinterpret_cast<char *>(buffer), HexFile::ChunkBytes);
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

BlockDecode decodeBlockFile(QIODevice *device, quint8 *image, quint64 capacity, const ProgressHooks &hooks)
{
    BlockDecode result;
    if (!device)
        return result;
    const qint64 size = device->size();
    quint64 count = 0;
    qint64 position = 0;
    do {
        const int pct = Countdown::percent(position, size);
        if (hooks.beforeStep && !hooks.beforeStep(pct)) {
            result.cancelled = true;
            break;
        }
        position = readHexLine(device, image, count, position, capacity);
        if (count >= capacity)
            position = 0;
        if (hooks.afterStep)
            hooks.afterStep(pct, position, size);
    } while (position != 0);
    result.stored = count;
    result.complete = !result.cancelled && count >= capacity;
    return result;
}

SaveResult saveHexFile(const QString &path, const quint8 *bytes, qint64 length, int lineLength)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveResult::OpenFailed;
    // QSaveFile::commit() does not notice a failure of the final buffer
    // flush (it renames the short file over the old one), so flush here and
    // check before committing.
    if (!writeHexLines(&file, bytes, length, lineLength) || !file.flush()
        || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        file.commit();   // discards the temporary file, leaves the old one
        return SaveResult::WriteFailed;
    }
    if (!file.commit())
        return SaveResult::WriteFailed;
    return SaveResult::Ok;
}
