// How the program shows the calibration journal's records and problems, in
// its own language (texts in the "JournalWindow" context): the window, the
// certificate and the main window's warnings use these.
#pragma once

#include "journal.h"

#include <QString>

namespace JournalText {

// "Калибровка нуля", "Загрузка файла параметров", ...
QString kindText(const QString &key);
// "TL-02, тип 1", "Bootloader", "тип 7"
QString deviceText(int deviceType);
// "Успешно" or "Ошибка: <reason>"; for a record written before a device
// write "Начата", or "Не завершена" when `unfinished` (Journal::unfinished).
QString outcomeText(const Journal::Record &record, bool unfinished = false);
// What is wrong with the journal, and what to do about it.
QString errorText(const Journal::Error &error);
// The name=value pairs of a before or after text, in order.
QList<QPair<QString, QString>> fieldPairs(const QString &text);

} // namespace JournalText
