// Firmware transfer to the detector's bootloader, part of the device layer
// (no widgets): the program's update button and `tlctl flash` both drive it
// through hooks.
//
// Sequence: 0x5555 to the command register (start loading), a 1500 ms pause
// (the thread sleeps; no events run), then the image in blocks of 200 bytes
// written with function 14 at consecutive addresses from 0x08001C00, and
// 0x6060 (restart) after the last block.  An empty image, or one larger than
// the application flash, is refused before anything goes out.  The caller sets
// command.SlaveAddress (0 for the bootloader, which makes both commands
// broadcasts) and has the port open.
#pragma once

#include "filechunks.h"
#include "modbus.h"

#include <QString>
#include <functional>

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

enum class Result {
    Ok,             // every block and the restart command went through
    OpenFailed,     // the image file could not be opened; nothing sent
    EmptyFile,      // the image has no bytes; nothing sent
    TooLarge,       // the image is larger than MaxImageBytes; nothing sent
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
};

// Transfers the image read from `image` (open for reading).
Result update(QIODevice *image, const Hooks &hooks = {}, Report *report = nullptr);
// Opens the file at `path` and transfers it.
Result update(const QString &path, const Hooks &hooks = {}, Report *report = nullptr);

// Short English name of a result ("ok", "open-failed", ...), for tools.
const char *resultName(Result result);

} // namespace Firmware
