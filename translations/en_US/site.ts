<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>SiteReport</name>
    <message>
        <source>Неизвестный прибор (тип %1)</source>
        <translation>Unknown device (type %1)</translation>
    </message>
    <message>
        <source>Детектор, тип %1</source>
        <translation>Detector, type %1</translation>
    </message>
    <message>
        <source>нет данных о калибровке</source>
        <translation>no calibration on record</translation>
    </message>
    <message>
        <source>просрочена на %1 дн.</source>
        <translation>overdue by %1 d</translation>
    </message>
    <message>
        <source>сегодня</source>
        <translation>today</translation>
    </message>
    <message>
        <source>через %1 дн.</source>
        <translation>in %1 d</translation>
    </message>
    <message>
        <source>в срок</source>
        <translation>on time</translation>
    </message>
    <message>
        <source>Метка</source>
        <translation>Tag</translation>
    </message>
    <message>
        <source>Линия</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Заводской номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Газ</source>
        <translation>Gas</translation>
    </message>
    <message>
        <source>Ед. изм.</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Диапазон</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>Порог 1</source>
        <translation>Threshold 1</translation>
    </message>
    <message>
        <source>Порог 2</source>
        <translation>Threshold 2</translation>
    </message>
    <message>
        <source>Последняя калибровка</source>
        <translation>Last calibration</translation>
    </message>
    <message>
        <source>Следующая калибровка</source>
        <translation>Next calibration</translation>
    </message>
    <message>
        <source>Срок</source>
        <translation>Due</translation>
    </message>
    <message>
        <source>Отклонения от резервной копии</source>
        <translation>Drift from the last backup</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>none</translation>
    </message>
    <message>
        <source>Отчёт по объекту</source>
        <translation>Site report</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Техник</source>
        <translation>Technician</translation>
    </message>
    <message>
        <source>Объект</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>Линия, адрес</source>
        <translation>Line, address</translation>
    </message>
    <message>
        <source>Тип, версия ПО</source>
        <translation>Type, firmware</translation>
    </message>
    <message>
        <source>Газ, диапазон</source>
        <translation>Gas, range</translation>
    </message>
    <message>
        <source>Пороги 1 / 2</source>
        <translation>Thresholds 1 / 2</translation>
    </message>
    <message>
        <source>Приборов: %1, из них с просроченной калибровкой: %2.</source>
        <translation>Detectors: %1, of them overdue for calibration: %2.</translation>
    </message>
    <message>
        <source>Обслуживание выполнил</source>
        <translation>Serviced by</translation>
    </message>
    <message>
        <source>Представитель объекта</source>
        <translation>Site representative</translation>
    </message>
    <message>
        <source>UUID записи о калибровке</source>
        <translation>Calibration record UUID</translation>
    </message>
    <message>
        <source>Хеш записи о калибровке</source>
        <translation>Calibration record hash</translation>
    </message>
    <message>
        <source>будет присвоен сервером</source>
        <translation>to be assigned by the server</translation>
    </message>
    <message>
        <source>хеш %1</source>
        <translation>hash %1</translation>
    </message>
    <message>
        <source>Записи журнала о последних калибровках</source>
        <translation>Journal records of the last calibrations</translation>
    </message>
    <message>
        <source>UUID записи</source>
        <translation>Record UUID</translation>
    </message>
    <message>
        <source>Хеш записи (SHA-256)</source>
        <translation>Record hash (SHA-256)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Объект</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>Линия %1 передана окну «Объект»</source>
        <translation>Line %1 handed to the "Site" window</translation>
    </message>
    <message>
        <source>Линия %1 не открыта снова: %2</source>
        <translation>Line %1 not opened again: %2</translation>
    </message>
    <message>
        <source>Объект «%1»: просрочена калибровка приборов: %2</source>
        <translation>Site "%1": calibration overdue on %2 detector(s)</translation>
    </message>
    <message>
        <source>Объект «%1»: просроченных калибровок нет</source>
        <translation>Site "%1": no calibration overdue</translation>
    </message>
</context>
<context>
    <name>SiteApplyDialog</name>
    <message>
        <source>Изменение параметров приборов</source>
        <translation>Change of detector settings</translation>
    </message>
    <message>
        <source>Что записать</source>
        <translation>What to write</translation>
    </message>
    <message>
        <source>Значения:</source>
        <translation>Values:</translation>
    </message>
    <message>
        <source>Параметры из файла:</source>
        <translation>Settings from a file:</translation>
    </message>
    <message>
        <source>Выбрать...</source>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>Запись библиотеки газов:</source>
        <translation>Gas library entry:</translation>
    </message>
    <message>
        <source>Что будет записано (было → станет, в единицах каждого прибора):</source>
        <translation>What will be written (was → will be, in each detector's units):</translation>
    </message>
    <message>
        <source>Остановиться при первой ошибке</source>
        <translation>Stop at the first failure</translation>
    </message>
    <message>
        <source>Записать</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Приборов выбрано: %1. Уровень доступа: %2.</source>
        <translation>Detectors chosen: %1. Access level: %2.</translation>
    </message>
    <message>
        <source>нет входа</source>
        <translation>not logged in</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Значение (пусто: не менять)</source>
        <translation>Value (empty: leave as is)</translation>
    </message>
    <message>
        <source>Прибор</source>
        <translation>Detector</translation>
    </message>
    <message>
        <source>Было</source>
        <translation>Was</translation>
    </message>
    <message>
        <source>Станет</source>
        <translation>Will be</translation>
    </message>
    <message>
        <source>Примечание</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>Параметры из файла</source>
        <translation>Settings from a file</translation>
    </message>
    <message>
        <source>Файлы параметров (*.hex);;Все файлы (*)</source>
        <translation>Parameter files (*.hex);;All files (*)</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Файл %1 содержит значения, которых не бывает у прибора TL-02:
%2
Параметры из него не взяты.</source>
        <translation>File %1 holds values no TL-02 detector has:
%2
No settings were taken from it.</translation>
    </message>
    <message>
        <source>остаётся: собственный параметр прибора</source>
        <translation>kept: the detector's own setting</translation>
    </message>
    <message>
        <source>остаётся: не меняется на уровне доступа %1</source>
        <translation>kept: not changed at access level %1</translation>
    </message>
    <message>
        <source>остаётся: не используется этим типом прибора</source>
        <translation>kept: not used by this type of detector</translation>
    </message>
    <message>
        <source>остаётся: не записывается</source>
        <translation>kept: never written</translation>
    </message>
    <message>
        <source>имитация записывается выключенной</source>
        <translation>the simulation is written switched off</translation>
    </message>
    <message>
        <source>Выберите файл параметров.</source>
        <translation>Choose a parameter file.</translation>
    </message>
    <message>
        <source>Выберите запись библиотеки газов.</source>
        <translation>Choose a gas library entry.</translation>
    </message>
    <message>
        <source>Введите хотя бы одно значение.</source>
        <translation>Enter at least one value.</translation>
    </message>
    <message>
        <source>%1: значение не принято</source>
        <translation>%1: value not accepted</translation>
    </message>
    <message>
        <source>не будет записан: %1</source>
        <translation>will not be written: %1</translation>
    </message>
    <message>
        <source>нет изменений</source>
        <translation>no changes</translation>
    </message>
    <message>
        <source>Будут записаны приборы: %1 из %2; не будут записаны: %3.</source>
        <translation>Detectors to be written: %1 of %2; not to be written: %3.</translation>
    </message>
    <message>
        <source>Записать показанные изменения в приборы (%1)?
Каждый прибор будет проверен по заводскому номеру, записан и прочитан обратно.</source>
        <translation>Write the changes shown into the detectors (%1)?
Each detector is checked by its serial number, written and read back.</translation>
    </message>
</context>
<context>
    <name>SiteWindow</name>
    <message>
        <source>Объект</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>Объект:</source>
        <translation>Site:</translation>
    </message>
    <message>
        <source>Новый объект...</source>
        <translation>New site...</translation>
    </message>
    <message>
        <source>Калибровка каждые</source>
        <translation>Calibration every</translation>
    </message>
    <message>
        <source> дн.</source>
        <translation> d</translation>
    </message>
    <message>
        <source>Линии:</source>
        <translation>Lines:</translation>
    </message>
    <message>
        <source>Поиск:</source>
        <translation>Search:</translation>
    </message>
    <message>
        <source>Все приборы</source>
        <translation>All detectors</translation>
    </message>
    <message>
        <source>Просроченные и на ближайшие 30 дней</source>
        <translation>Overdue and due within 30 days</translation>
    </message>
    <message>
        <source>Только просроченные</source>
        <translation>Overdue only</translation>
    </message>
    <message>
        <source>Опросить линии</source>
        <translation>Survey the lines</translation>
    </message>
    <message>
        <source>Резервная копия всех...</source>
        <translation>Back up all...</translation>
    </message>
    <message>
        <source>Изменить параметры...</source>
        <translation>Change settings...</translation>
    </message>
    <message>
        <source>Отчёт...</source>
        <translation>Report...</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>%1, адрес %2</source>
        <translation>%1, address %2</translation>
    </message>
    <message>
        <source>Реестр объекта недоступен.
%1</source>
        <translation>The site register is not available.
%1</translation>
    </message>
    <message>
        <source>Двойной щелчок: изменить метку</source>
        <translation>Double-click: edit the tag</translation>
    </message>
    <message>
        <source>Новый объект</source>
        <translation>New site</translation>
    </message>
    <message>
        <source>Название объекта:</source>
        <translation>Site name:</translation>
    </message>
    <message>
        <source>%1: %2 → %3</source>
        <translation>%1: %2 → %3</translation>
    </message>
    <message>
        <source>Перемещения:
%1</source>
        <translation>Moves:
%1</translation>
    </message>
    <message>
        <source>Готово</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Остановка...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>Укажите линии объекта (порты через «;»).</source>
        <translation>Give the site's lines (ports separated by ";").</translation>
    </message>
    <message>
        <source>Опрос линий...</source>
        <translation>Surveying the lines...</translation>
    </message>
    <message>
        <source>%1: опрашивается адрес %2 из %3</source>
        <translation>%1: asking address %2 of %3</translation>
    </message>
    <message>
        <source>%1: найдено приборов %2, прочитано %3</source>
        <translation>%1: %2 detector(s) found, %3 read</translation>
    </message>
    <message>
        <source>%1: линия не открыта: %2</source>
        <translation>%1: line not opened: %2</translation>
    </message>
    <message>
        <source>Опрос прерван: реестр объекта не изменён.</source>
        <translation>Survey cancelled: the site register is unchanged.</translation>
    </message>
    <message>
        <source>Новый: %1 — %2</source>
        <translation>New: %1 — %2</translation>
    </message>
    <message>
        <source>Не найден: %1 — был %2</source>
        <translation>Missing: %1 — was at %2</translation>
    </message>
    <message>
        <source>Перемещён: %1 — %2 → %3</source>
        <translation>Moved: %1 — %2 → %3</translation>
    </message>
    <message>
        <source>Версия ПО: %1 — %2 → %3</source>
        <translation>Firmware: %1 — %2 → %3</translation>
    </message>
    <message>
        <source>Отклонение от резервной копии: %1 — %2: %3 → %4</source>
        <translation>Drift from the backup: %1 — %2: %3 → %4</translation>
    </message>
    <message>
        <source>Не прочитаны полностью: %1</source>
        <translation>Not read in full: %1</translation>
    </message>
    <message>
        <source>Изменений с прошлого опроса нет.</source>
        <translation>Nothing changed since the last survey.</translation>
    </message>
    <message>
        <source>линия не открыта</source>
        <translation>line not opened</translation>
    </message>
    <message>
        <source>прибор не прочитан</source>
        <translation>detector not read</translation>
    </message>
    <message>
        <source>на этом месте отвечает другой прибор</source>
        <translation>another detector answers at this place</translation>
    </message>
    <message>
        <source>значения не приняты</source>
        <translation>values not accepted</translation>
    </message>
    <message>
        <source>значения прибора изменились после просмотра; опросите линии заново</source>
        <translation>the detector's values changed after the preview; survey the lines again</translation>
    </message>
    <message>
        <source>нет изменений</source>
        <translation>no changes</translation>
    </message>
    <message>
        <source>запись не удалась</source>
        <translation>write failed</translation>
    </message>
    <message>
        <source>записано, но не подтверждено</source>
        <translation>written, but not confirmed</translation>
    </message>
    <message>
        <source>файл не записан</source>
        <translation>file not written</translation>
    </message>
    <message>
        <source>остановлено после ошибки</source>
        <translation>stopped after a failure</translation>
    </message>
    <message>
        <source>отменено</source>
        <translation>cancelled</translation>
    </message>
    <message>
        <source>выполнено</source>
        <translation>done</translation>
    </message>
    <message>
        <source>ОШИБКА</source>
        <translation>FAILED</translation>
    </message>
    <message>
        <source>пропущен</source>
        <translation>skipped</translation>
    </message>
    <message>
        <source>Папка для резервных копий</source>
        <translation>Folder for the backups</translation>
    </message>
    <message>
        <source>Резервное копирование...</source>
        <translation>Backing up...</translation>
    </message>
    <message>
        <source>Резервные копии: сделано %1, ошибок %2, пропущено %3.</source>
        <translation>Backups: %1 done, %2 failed, %3 skipped.</translation>
    </message>
    <message>
        <source>Изменение параметров приборов</source>
        <translation>Change of detector settings</translation>
    </message>
    <message>
        <source>Для записи в приборы войдите в программу с уровнем доступа.</source>
        <translation>Log in with an access level to write into detectors.</translation>
    </message>
    <message>
        <source>Запись в приборы...</source>
        <translation>Writing into the detectors...</translation>
    </message>
    <message>
        <source>Изменение параметров: выполнено %1, ошибок %2, пропущено %3.</source>
        <translation>Change of settings: %1 done, %2 failed, %3 skipped.</translation>
    </message>
    <message>
        <source>Отчёт по объекту</source>
        <translation>Site report</translation>
    </message>
    <message>
        <source>PDF (*.pdf);;CSV (*.csv)</source>
        <translation>PDF (*.pdf);;CSV (*.csv)</translation>
    </message>
    <message>
        <source>Ошибка записи файла %1:
%2</source>
        <translation>Error writing file %1:
%2</translation>
    </message>
    <message>
        <source>Отчёт сохранён: %1</source>
        <translation>Report saved: %1</translation>
    </message>
</context>
</TS>
