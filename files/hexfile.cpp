#include "hexfile.h"

#include <QByteArray>
#include <QIODevice>
#include <QSaveFile>

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

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One line of a parameter file without its line end: an optional ":" before
// the digits, digits of either case, blanks anywhere.  Sets the problem and,
// for a bad character, its column and byte.
FileProblem checkLine(const QByteArray &text, int *column, quint8 *character)
{
    int digits = 0;
    bool seenContent = false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isBlank(c))
            continue;
        if (c == ':' && !seenContent) {
            seenContent = true;
            continue;
        }
        seenContent = true;
        if (hexValue(c) < 0) {
            *column = i + 1;
            *character = quint8(c);
            return FileProblem::BadCharacter;
        }
        ++digits;
    }
    return digits % 2 ? FileProblem::OddDigits : FileProblem::None;
}

// Reads one line from the current position: the text without its line end
// (LF, CR LF, or CRs followed by an optional LF).  False at the end.
bool readLine(QIODevice *device, QByteArray &text)
{
    text.clear();
    char c = 0;
    bool any = false;
    while (device->getChar(&c)) {
        any = true;
        if (c == '\n')
            return true;
        if (c == '\r') {
            char next = 0;
            while (device->peek(&next, 1) == 1 && next == '\r')
                device->getChar(&next);
            if (device->peek(&next, 1) == 1 && next == '\n')
                device->getChar(&next);
            return true;
        }
        text.append(c);
    }
    return any;
}

} // namespace

QString describeProblem(const BlockDecode &d, quint64 capacity)
{
    switch (d.problem) {
    case FileProblem::None:
        return QString();
    case FileProblem::TooLarge:
        return QStringLiteral("%1 bytes, a parameter file has at most %2").arg(d.size).arg(HexFile::MaxParameterFileBytes);
    case FileProblem::BadCharacter: {
        const QString shown = d.character >= 0x21 && d.character < 0x7F
                                  ? QStringLiteral("'%1' ").arg(QLatin1Char(char(d.character)))
                                  : QString();
        return QStringLiteral("line %1, column %2: character %3(0x%4) is not a hex digit")
            .arg(d.line).arg(d.column).arg(shown)
            .arg(d.character, 2, 16, QLatin1Char('0'));
    }
    case FileProblem::OddDigits:
        return QStringLiteral("line %1: odd number of hex digits").arg(d.line);
    case FileProblem::TooMuchData:
        return QStringLiteral("line %1: more than %2 bytes of data").arg(d.line).arg(capacity);
    }
    return QString();
}

BlockDecode decodeBlockFile(QIODevice *device, quint8 *image, quint64 capacity, const ProgressHooks &hooks)
{
    BlockDecode result;
    if (!device)
        return result;
    const qint64 size = device->size();
    result.size = size;
    if (size > HexFile::MaxParameterFileBytes) {
        result.problem = FileProblem::TooLarge;
        return result;
    }
    if (!device->seek(0))
        return result;

    quint64 count = 0;
    quint64 data = 0;
    int lineNumber = 0;
    QByteArray text;
    for (;;) {
        const qint64 position = device->pos();
        const int pct = Countdown::percent(position, size);
        if (hooks.beforeStep && !hooks.beforeStep(pct)) {
            result.cancelled = true;
            break;
        }
        if (!readLine(device, text)) {
            if (hooks.afterStep)
                hooks.afterStep(pct, 0, size);
            break;
        }
        ++lineNumber;
        FileProblem problem = checkLine(text, &result.column, &result.character);
        if (problem == FileProblem::None) {
            decodeHexText(text, image, count, capacity);
            // Count the line's bytes whether or not they still fit.
            int digits = 0;
            for (const char c : text)
                digits += hexValue(c) >= 0 ? 1 : 0;
            data += quint64(digits / 2);
            if (data > capacity)
                problem = FileProblem::TooMuchData;
        }
        if (problem != FileProblem::None) {
            result.problem = problem;
            result.line = lineNumber;
            result.dataBytes = data;
            break;
        }
        const bool atEnd = device->atEnd();
        if (hooks.afterStep)
            hooks.afterStep(pct, atEnd ? 0 : device->pos(), size);
        if (atEnd)
            break;
    }
    result.stored = count;
    result.complete = !result.cancelled && result.problem == FileProblem::None && count >= capacity;
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

QString backupFileName(const QString &serialText, const QDate &day, int number)
{
    const QString base = serialText + QLatin1Char('_') + day.toString(QStringLiteral("yyyy-MM-dd"));
    return number > 1 ? QStringLiteral("%1_%2.hex").arg(base).arg(number) : base + QStringLiteral(".hex");
}
