// libFuzzer harness for the parameter-file reader: any file content, any
// line ends.  readHexLine must stay inside the 140-byte image (guard bytes
// around it must survive), never let the count pass 140 or go back, and
// always move forward through the file.  The strict whole-file decoder must
// stay inside the image too, take a file only when it found no problem, and
// then agree with the line-by-line reading.
#include "hexfile.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int Guard = 32;
constexpr quint8 GuardByte = 0xA5;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    QByteArray content(reinterpret_cast<const char *>(data), int(size));

    // Line by line, as the loading loop does.
    quint8 area[Guard + HexFile::BlockBytes + Guard];
    std::memset(area, GuardByte, sizeof area);
    quint8 *image = area + Guard;
    {
        QBuffer buf(&content);
        check(buf.open(QIODevice::ReadOnly));
        quint64 count = 0;
        qint64 position = 0;
        do {
            const quint64 before = count;
            const qint64 next = readHexLine(&buf, image, count, position, HexFile::BlockBytes);
            check(count >= before && count <= quint64(HexFile::BlockBytes));
            check(next == 0 || (next > position && next <= qint64(size)));
            position = next;
        } while (position != 0);
        for (int i = 0; i < Guard; ++i) {
            check(area[i] == GuardByte);
            check(area[Guard + HexFile::BlockBytes + i] == GuardByte);
        }
    }

    // A file the whole-file decoder takes holds nothing but digits, blanks,
    // a leading ":" and line ends, so the tolerant reading gives the same bytes.
    quint8 area2[Guard + HexFile::BlockBytes + Guard];
    std::memset(area2, GuardByte, sizeof area2);
    {
        QBuffer buf(&content);
        check(buf.open(QIODevice::ReadOnly));
        const BlockDecode d = decodeBlockFile(&buf, area2 + Guard, HexFile::BlockBytes);
        check(d.stored <= quint64(HexFile::BlockBytes));
        for (int i = 0; i < Guard; ++i) {
            check(area2[i] == GuardByte);
            check(area2[Guard + HexFile::BlockBytes + i] == GuardByte);
        }
        check(!d.complete || d.problem == FileProblem::None);
        check(d.complete == (d.problem == FileProblem::None && d.stored == quint64(HexFile::BlockBytes)));
        check(d.problem != FileProblem::TooLarge || qint64(size) > HexFile::MaxParameterFileBytes);
        if (d.problem == FileProblem::None)
            check(std::memcmp(area, area2, sizeof area) == 0);
    }
    return 0;
}
