// The hex-line parameter file and the small file helpers.  No widgets here:
// tlctl uses the same functions.  The binary chunk reading and the progress
// arithmetic they share with the firmware transfer are in filechunks.h.
//
// A parameter file holds the 140-byte image of the detector's parameter
// structure (offsets 0..139 of the parameter block) as upper-case hex pairs,
// 20 bytes a line, every line ended by CR LF.
//
// The line helpers (readHexLine, decodeHexText) are tolerant: ":" is removed,
// other non-hex characters are skipped, digits pair from the end of the line
// (an odd first digit is a byte of its own) and any line end works.  Loading
// a whole parameter file (decodeBlockFile) is strict, because what it reads
// goes into a gas detector: it takes a ":" before a line's digits, either
// case, spaces and tabs, and any line end, and refuses anything else.
#pragma once

#include "filechunks.h"

#include <QtGlobal>
#include <QDate>
#include <QString>
#include <functional>

class QIODevice;

namespace HexFile {
constexpr int LineBytes = 20;      // bytes per written line
constexpr int BlockBytes = 140;    // the parameter image a file carries
constexpr int ChunkBytes = BinaryChunkBytes;   // one binary chunk (a firmware block)
// A parameter file is 7 lines of 40 digits; anything this large is no
// parameter file, whatever it holds.
constexpr qint64 MaxParameterFileBytes = 64 * 1024;
} // namespace HexFile

// Writes `length` bytes as lines of `lineLength` bytes ("%02X" each, CR LF
// after every line, the last line possibly shorter).  Returns false when the
// device did not take every byte.  A length of 0 writes nothing.
bool writeHexLines(QIODevice *device, const quint8 *bytes, qint64 length, int lineLength);

// Reads the line that starts at `position`, decodes it and appends its bytes
// to `destination` from index `count` on, advancing `count`.  Bytes that
// would go at or beyond `capacity` are dropped, so `count` never exceeds it.
// Returns the position just after the line, or 0 when the device was already
// at its end (then `count` is left alone).
qint64 readHexLine(QIODevice *device, quint8 *destination, quint64 &count, qint64 position,
                   quint64 capacity = HexFile::BlockBytes);

// Decodes one line of text (without the need of a device); same rules as
// readHexLine.  Appends to `destination` as readHexLine does.
void decodeHexText(const QByteArray &line, quint8 *destination, quint64 &count, quint64 capacity);

// Why a file is no parameter file.
enum class FileProblem {
    None,
    TooLarge,       // the file is larger than HexFile::MaxParameterFileBytes
    BadCharacter,   // a line holds a character that is neither a digit, ":" in front, a blank nor a line end
    OddDigits,      // a line holds an odd number of digits
    TooMuchData,    // the file holds more bytes than the image
};

// Result of decoding a whole parameter file.
struct BlockDecode {
    quint64 stored = 0;        // bytes decoded into the image (at most its capacity)
    bool complete = false;     // every byte of the image was filled, and the file is sound
    bool cancelled = false;    // beforeStep asked to stop
    FileProblem problem = FileProblem::None;
    qint64 size = 0;           // file size
    int line = 0;              // line (from 1) where the problem was found
    int column = 0;            // BadCharacter: its column (from 1)
    quint8 character = 0;      // BadCharacter: the byte
    quint64 dataBytes = 0;     // TooMuchData: bytes of data found up to that line
};

// What is wrong, in English, e.g. "line 3, column 12: character 'Z' (0x5A)
// is not a hex digit"; empty for a sound file.
QString describeProblem(const BlockDecode &decode, quint64 capacity = HexFile::BlockBytes);

// Decodes a whole parameter file from `device` into `image` (capacity bytes,
// normally HexFile::BlockBytes) line by line, checking every line strictly
// (see above) and reading on to the end, so that a file with more data than
// the image is refused rather than cut.  `image` is a staging copy: the
// caller decides what to do with it, and uses it only when `complete`.
BlockDecode decodeBlockFile(QIODevice *device, quint8 *image, quint64 capacity = HexFile::BlockBytes,
                            const ProgressHooks &hooks = {});

// Writes `length` bytes as a parameter file at `path`, through a temporary
// file that replaces the old one only when everything was written.
enum class SaveResult { Ok, OpenFailed, WriteFailed };
SaveResult saveHexFile(const QString &path, const quint8 *bytes, qint64 length,
                       int lineLength = HexFile::LineBytes);

// The name of a detector's backup: "<serial text>_<yyyy-mm-dd>.hex", with
// "_N" before the suffix for the Nth of the same serial and day (N > 1).
QString backupFileName(const QString &serialText, const QDate &day, int number = 1);
