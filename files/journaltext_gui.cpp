#include "journaltext_gui.h"

#include "journallocation.h"

#include <QCoreApplication>

namespace JournalText {

QString kindText(const QString &key)
{
    Journal::Kind kind;
    if (!Journal::kindFromKey(key, &kind))
        return key;
    switch (kind) {
    case Journal::Kind::GasZero:
        return QCoreApplication::translate("JournalWindow", "Калибровка нуля");
    case Journal::Kind::GasSpan:
        return QCoreApplication::translate("JournalWindow", "Калибровка диапазона");
    case Journal::Kind::Input4mA:
        return QCoreApplication::translate("JournalWindow", "Токовый вход, точка 4 мА");
    case Journal::Kind::Input20mA:
        return QCoreApplication::translate("JournalWindow", "Токовый вход, точка 20 мА");
    case Journal::Kind::Output4mA:
        return QCoreApplication::translate("JournalWindow", "Токовый выход, точка 4 мА");
    case Journal::Kind::Output20mA:
        return QCoreApplication::translate("JournalWindow", "Токовый выход, точка 20 мА");
    case Journal::Kind::FileLoad:
        return QCoreApplication::translate("JournalWindow", "Загрузка файла параметров");
    case Journal::Kind::FactoryStore:
        return QCoreApplication::translate("JournalWindow", "Сохранение заводских настроек");
    case Journal::Kind::FactoryRestore:
        return QCoreApplication::translate("JournalWindow", "Чтение заводских настроек");
    case Journal::Kind::Firmware:
        return QCoreApplication::translate("JournalWindow", "Обновление ПО");
    case Journal::Kind::AsFound:
        return QCoreApplication::translate("JournalWindow", "Показания до регулировки");
    case Journal::Kind::AsLeft:
        return QCoreApplication::translate("JournalWindow", "Показания после регулировки");
    case Journal::Kind::FunctionCheck:
        return QCoreApplication::translate("JournalWindow", "Проверка работоспособности");
    }
    return key;
}

QString deviceText(int deviceType)
{
    if (deviceType == 1 || deviceType == 2)
        return QCoreApplication::translate("JournalWindow", "TL-02, тип %1").arg(deviceType);
    if (deviceType == 999)
        return QStringLiteral("Bootloader");
    return QCoreApplication::translate("JournalWindow", "тип %1").arg(deviceType);
}

QString outcomeText(const Journal::Record &record, bool unfinished)
{
    if (record.started)
        return unfinished ? QCoreApplication::translate("JournalWindow", "Не завершена")
                          : QCoreApplication::translate("JournalWindow", "Начата");
    if (record.ok)
        return QCoreApplication::translate("JournalWindow", "Успешно");
    return record.reason.isEmpty() ? QCoreApplication::translate("JournalWindow", "Ошибка") : QCoreApplication::translate("JournalWindow", "Ошибка: %1").arg(record.reason);
}

namespace {
QString problemText(const Journal::Error &e)
{
    switch (e.problem) {
    case Journal::Problem::None:
        return QString();
    case Journal::Problem::CannotOpen:
        if (Journal::parseLocation(e.path).kind != Journal::Location::Kind::SqliteFile)
            return QCoreApplication::translate("JournalWindow", "Журнал калибровок %1 недоступен (%2). Проверьте адрес, что сервер работает и доступен, и вход.")
                .arg(e.path, e.detail);
        return QCoreApplication::translate("JournalWindow", "Журнал калибровок %1 не открывается (%2). Проверьте, что папка существует и доступна для записи.")
            .arg(e.path, e.detail);
    case Journal::Problem::Locked:
        return QCoreApplication::translate("JournalWindow", "Журнал калибровок %1 занят другой программой (%2). Закройте ее или повторите позже.")
            .arg(e.path, e.detail);
    case Journal::Problem::Corrupt:
        return QCoreApplication::translate("JournalWindow", "Журнал калибровок %1 поврежден или не является базой журнала (%2). Переименуйте файл: "
                  "будет создан новый журнал.")
            .arg(e.path, e.detail);
    case Journal::Problem::NewerSchema:
        return QCoreApplication::translate("JournalWindow", "Журнал калибровок %1 создан более новой версией программы (%2).").arg(e.path, e.detail);
    case Journal::Problem::Failed:
        return QCoreApplication::translate("JournalWindow", "Ошибка журнала калибровок %1: %2").arg(e.path, e.detail);
    case Journal::Problem::FileWrite:
        return QCoreApplication::translate("JournalWindow", "Файл %1 не записан: %2").arg(e.path, e.detail);
    }
    return QString();
}
} // namespace

QString errorText(const Journal::Error &e)
{
    if (e.keptIn.isEmpty())
        return problemText(e);
    return problemText(e) + QLatin1Char('\n')
           + QCoreApplication::translate("JournalWindow", "Запись сохранена в файле %1 и будет перенесена в журнал "
                                                          "при следующем успешном открытии.").arg(e.keptIn);
}

QList<QPair<QString, QString>> fieldPairs(const QString &text)
{
    QList<QPair<QString, QString>> pairs;
    for (const QString &part : text.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq > 0)
            pairs.append({part.left(eq), part.mid(eq + 1)});
        else
            pairs.append({part, QString()});
    }
    return pairs;
}

} // namespace JournalText
