// Parameter file, parameter write and factory settings of the main window's
// left column.
#pragma once

#include "deviceops.h"
#include "hexfile.h"

#include <QString>

class QWidget;

// What the parameter write, the factory commands and the loading of a file
// into the device need from the window that runs them.  The main window
// provides it for the tab it shows when the flow starts.
class ExchangeHost
{
public:
    virtual ~ExchangeHost() = default;
    // Parent of the boxes and dialogs shown on the way.
    virtual QWidget *dialogParent() = 0;
    // Status bar message without time-out.
    virtual void showStatus(const QString &text) = 0;
    // Ends automatic reading.
    virtual void stopAutoUpdate() = 0;
    // A read cycle with its report (status, refresh of the pages).
    virtual bool readCycle() = 0;
    // Reports a full read that has been made (as part of a write or a
    // restore) as the read cycle reports its own.  Returns read.ok().
    virtual bool reportRead(const DeviceOps::Outcome &read) = 0;
};

// Writes the first `length` bytes of command.DeviceParams as a parameter file
// at `path` (the old file is replaced only by a complete new one), with the
// concentration simulation off.  Reports an open or write failure in the
// critical box "Ошибка"; true when written.
bool saveBlockFile(const QString &path, int length = HexFile::BlockBytes);

// Decodes the parameter file at `path` into `image` (`length` bytes, a copy:
// command.DeviceParams is not touched) under the progress dialog, parented to
// `window`, which can be cancelled.  Reports a file that cannot be opened, a
// file that is no parameter file (naming the line and what is wrong) and a
// file with fewer than `length` bytes in the critical box "Ошибка".  True
// only when the whole image was read from a sound file; a cancel gives false
// without a message.
bool loadBlockFile(QWidget *window, const QString &path, quint8 *image, int length = HexFile::BlockBytes);

// Writes the holding block into the device as "Сохранить параметры" does:
// status, automatic reading off, one event pass, function 16 from 0x1000
// with WriteCount registers; on success the full read of the read cycle,
// reported through the host; on failure the warning box and status "Ошибка
// обмена данными".  A block with a threshold above the upper range value
// is refused first in the warning box "Ошибка" (ParamText::thresholdRefusal)
// and nothing is sent.  Returns whether the device took the block.
bool writeParameters(ExchangeHost &host);

// What a file load did at the device, for its record in the journal.
struct LoadReport {
    bool attempted = false;   // a confirmed plan went to the device (written or failed)
    ParamBlock device{};      // what the device held before
    ParamBlock planned{};     // the block that was written
};

// "Загрузить конфигурацию в прибор" once the file at `path` is chosen: the
// file is decoded (loadBlockFile) and checked whole, the device is read, the
// changes are shown for confirmation, and only a confirmed plan that changes
// something is written (writeParameters).  A file with values no detector
// has is reported in the critical box "Ошибка", a failed read in the
// exchange warning.  Returns whether a block was written; `report`, when
// given, says what was tried.
bool loadParameterFile(ExchangeHost &host, const QString &path, LoadReport *report = nullptr);

// "Сохранение заводских настроек": the block written and read back as by
// writeParameters (with the concentration simulation off), then 0x3003; a
// command the device refuses gets the same warning box and status.  Returns
// whether the settings were stored.  A block with a threshold above the
// upper range value is refused as by writeParameters.
bool storeFactorySettings(ExchangeHost &host);

// "Чтение заводских настроек" once access is granted: 0x6006, then the
// full read reported through the host, with automatic reading off.  A
// refused command gets the warning box and status, and nothing is read.
// Returns whether both went through.
bool restoreFactorySettings(ExchangeHost &host);
