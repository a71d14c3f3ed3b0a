// Parameter file and parameter write of the main window's left column.
#pragma once

#include "hexfile.h"

#include <QString>

class MainWindow;
class QWidget;

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
// reported for tab `tab`; on failure the warning box and status "Ошибка
// обмена данными".  Returns whether the device took the block.
bool writeParameters(MainWindow *window, int tab);

// "Сохранение заводских настроек": the block written and read back as by
// writeParameters (with the concentration simulation off), then 0x3003; a
// command the device refuses gets the same warning box and status.  Returns
// whether the settings were stored.
bool storeFactorySettings(MainWindow *window, int tab);

// "Чтение заводских настроек" once access is granted: 0x6006, then the
// full read reported for tab `tab`, with automatic reading off.  A refused
// command gets the warning box and status, and nothing is read.  Returns
// whether both went through.
bool restoreFactorySettings(MainWindow *window, int tab);
