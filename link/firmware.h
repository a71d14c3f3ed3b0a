// Firmware transfer to the detector's bootloader, part of the device layer
// (no widgets): the program's update button and `tlctl flash` both drive it
// through hooks.
//
// Sequence: 0x5555 to the command register (start loading), a 1500 ms pause
// (the thread sleeps; no events run), then the image in blocks of 200 bytes
// written with function 14 at consecutive addresses from 0x08001C00, and
// 0x6060 (restart) after the last block.  An empty image, or one larger than
// the application flash, is refused before anything goes out; so is an image
// that does not look like an application for the load address, unless the
// caller says the user agreed to send it anyway.  The caller sets
// command.SlaveAddress (0 for the bootloader, which makes both commands
// broadcasts) and has the port open.
#pragma once

#include "filechunks.h"
#include "modbus.h"

#include <QByteArray>
#include <QString>
#include <functional>

class Command;
class QIODevice;

namespace Firmware {

constexpr quint32 LoadAddress = 0x08001C00;
constexpr int BlockBytes = BinaryChunkBytes;
constexpr int StartPauseMs = 1500;
constexpr quint8 BlockFunction = Modbus::FnWriteMemory;
// Largest image the application flash holds: the detector has 256 KiB of
// flash, and its first 0x1C00 bytes (up to LoadAddress) are the bootloader's
// own.  A bigger file is not this detector's firmware; sending it would wipe
// the application and run past the end of the flash.
constexpr qint64 MaxImageBytes = 256 * 1024 - 0x1C00;   // 254976
static_assert(MaxImageBytes == 254976, "application flash size");

// Where an application runs: the 256 KiB of flash from FlashFirst and the RAM
// its stack lives in.
constexpr quint32 FlashFirst = 0x08000000;
constexpr quint32 FlashBytes = 256 * 1024;
constexpr quint32 RamFirst = 0x20000000;
constexpr quint32 RamLast = 0x2003FFFF;
// Bytes of the two words judged: the initial stack pointer and the reset
// address, the start of a Cortex-M vector table.
constexpr int VectorTableBytes = 8;

// Whether an image looks like an application built for LoadAddress.  Its
// first two words, little-endian, are the vector table a Cortex-M starts
// from: word 0 the initial stack pointer, which must lie in RAM (the end of
// RAM itself counts: the stack grows down from there); word 1 the reset
// address, which must be odd (Thumb code) and point into the image (from
// LoadAddress to LoadAddress + its size) and into the flash.  Anything else,
// a text file, an image built for another address or an erased dump, would
// leave a detector that does not start.
struct VectorCheck {
    enum class Reset {
        Ok,
        Even,           // bit 0 clear: not a Thumb address
        OutsideFlash,   // not within FlashFirst .. FlashFirst + FlashBytes
        OutsideImage,   // in the flash, but not within the image's own bytes
    };
    qint64 size = 0;              // image size in bytes
    bool hasTable = false;        // at least VectorTableBytes bytes
    quint32 stackPointer = 0;     // word 0
    quint32 resetAddress = 0;     // word 1
    bool stackInRam = false;
    Reset reset = Reset::Ok;

    bool looksLikeApplication() const { return hasTable && stackInRam && reset == Reset::Ok; }
};
// Judges the image of `size` bytes whose first bytes are `head` (at least
// VectorTableBytes of them, when the image has that many).
VectorCheck checkVectorTable(const QByteArray &head, qint64 size);
// Why the image does not look like an application, naming the wrong word
// and its value, in English (tlctl; the program has its own words); empty
// when it does.
QString vectorProblemText(const VectorCheck &check);

// What a transfer may send.
enum class Images {
    ApplicationOnly,   // an image that does not pass checkVectorTable is refused
    Any,               // the user agreed to send it as it is
};

enum class Result {
    Ok,             // every block and the restart command went through
    OpenFailed,     // the image file could not be opened; nothing sent
    EmptyFile,      // the image has no bytes; nothing sent
    TooLarge,       // the image is larger than MaxImageBytes; nothing sent
    NotApplication, // the image does not look like an application and
                    // Images::Any was not given; nothing sent
    StartFailed,    // 0x5555 not accepted; no block sent
    ReadFailed,     // the image could not be read in the middle; no restart
    BlockFailed,    // a block failed after all its attempts; no restart
    Cancelled,      // beforeStep returned false between blocks; no restart
    RestartFailed,  // all blocks written, 0x6060 not accepted
};

// Progress hooks (all optional).  beforeStep runs before every block with the
// share sent so far (0..100) and cancels the transfer when it returns false;
// afterStep runs after every block with that same percent, the file position
// reached (0 after the last block) and the image size.
struct Hooks : ProgressHooks {
    // Once the start command was accepted and the pause is over, right
    // before the first block (e.g. to open a progress display).
    std::function<void(qint64 size)> transferStarting;
};

// What happened, for messages and logs.
struct Report {
    qint64 size = 0;          // image size in bytes
    int blocksSent = 0;       // blocks the device acknowledged
    qint64 bytesSent = 0;     // bytes in those blocks
    quint32 lastAddress = 0;  // address of the last block tried
    quint16 linkResult = 0;   // result code of the exchange that failed (0 when none did)
    VectorCheck vectors;      // the judgement of the image (when it was read)
};

// An image file read whole before anything is sent, so that what the user
// is shown and asked about (size, SHA-256, the judgement) is exactly what
// goes out.  A file larger than MaxImageBytes is not read.
struct Image {
    Result status = Result::OpenFailed;   // Ok, OpenFailed, EmptyFile, TooLarge or ReadFailed
    QString path;
    QString errorText;    // the file system's words when it could not be read
    qint64 size = 0;
    QByteArray bytes;
    QByteArray sha256;    // digest of the bytes (32 bytes; empty unless status is Ok)
    VectorCheck vectors;

    // The digest as 64 lower-case hex digits.
    QString sha256Hex() const { return QString::fromLatin1(sha256.toHex()); }
};
Image readImage(const QString &path);

// Transfers the image read from `image` (open for reading) over `link`.
Result update(Command &link, QIODevice *image, const Hooks &hooks = {}, Report *report = nullptr,
              Images accept = Images::ApplicationOnly);
// Opens the file at `path` and transfers it.
Result update(Command &link, const QString &path, const Hooks &hooks = {}, Report *report = nullptr,
              Images accept = Images::ApplicationOnly);
// Transfers the bytes of an image read by readImage (its status when that
// is not Ok).
Result update(Command &link, const Image &image, const Hooks &hooks = {}, Report *report = nullptr,
              Images accept = Images::ApplicationOnly);

// Short English name of a result ("ok", "open-failed", ...), for tools.
const char *resultName(Result result);

} // namespace Firmware
