<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>JournalWindow</name>
    <message>
        <source>Показания до регулировки</source>
        <translation>Readings as found</translation>
    </message>
    <message>
        <source>Показания после регулировки</source>
        <translation>Readings as left</translation>
    </message>
    <message>
        <source>Проверка работоспособности</source>
        <translation>Function check</translation>
    </message>
    <message>
        <source>Не завершена</source>
        <translation>Not completed</translation>
    </message>
    <message>
        <source>Начата</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>Журнал калибровок</source>
        <translation>Calibration journal</translation>
    </message>
    <message>
        <source>Серийный номер:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>все</source>
        <translation>all</translation>
    </message>
    <message>
        <source>Период с</source>
        <translation>Period from</translation>
    </message>
    <message>
        <source>по</source>
        <translation>to</translation>
    </message>
    <message>
        <source>Обновить</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Экспорт CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>Протокол калибровки</source>
        <translation>Calibration certificate</translation>
    </message>
    <message>
        <source>Дата и время</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>Прибор</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Серийный номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Уровень</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>Операция</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>Газ / ток</source>
        <translation>Gas / current</translation>
    </message>
    <message>
        <source>До</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>После</source>
        <translation>After</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Outcome</translation>
    </message>
    <message>
        <source>Записей: %1</source>
        <translation>Records: %1</translation>
    </message>
    <message>
        <source>Файлы CSV (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>Файлы PDF (*.pdf)</source>
        <translation>PDF files (*.pdf)</translation>
    </message>
    <message>
        <source>Файл %1 не записан: %2</source>
        <translation>The file %1 was not written: %2</translation>
    </message>
    <message>
        <source>Калибровка нуля</source>
        <translation>Zero calibration</translation>
    </message>
    <message>
        <source>Калибровка диапазона</source>
        <translation>Span calibration</translation>
    </message>
    <message>
        <source>Токовый вход, точка 4 мА</source>
        <translation>Current input, 4 mA point</translation>
    </message>
    <message>
        <source>Токовый вход, точка 20 мА</source>
        <translation>Current input, 20 mA point</translation>
    </message>
    <message>
        <source>Токовый выход, точка 4 мА</source>
        <translation>Current output, 4 mA point</translation>
    </message>
    <message>
        <source>Токовый выход, точка 20 мА</source>
        <translation>Current output, 20 mA point</translation>
    </message>
    <message>
        <source>Загрузка файла параметров</source>
        <translation>Parameter file loaded</translation>
    </message>
    <message>
        <source>Сохранение заводских настроек</source>
        <translation>Factory settings stored</translation>
    </message>
    <message>
        <source>Чтение заводских настроек</source>
        <translation>Factory settings restored</translation>
    </message>
    <message>
        <source>Обновление ПО</source>
        <translation>Firmware update</translation>
    </message>
    <message>
        <source>TL-02, тип %1</source>
        <translation>TL-02, type %1</translation>
    </message>
    <message>
        <source>тип %1</source>
        <translation>type %1</translation>
    </message>
    <message>
        <source>Успешно</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>Ошибка: %1</source>
        <translation>Failed: %1</translation>
    </message>
    <message>
        <source>Журнал калибровок %1 недоступен (%2). Проверьте адрес, что сервер работает и доступен, и вход.</source>
        <translation>The calibration journal %1 cannot be reached (%2). Check the location, that the server runs and can be reached, and the login.</translation>
    </message>    <message>
        <source>Журнал калибровок %1 не открывается (%2). Проверьте, что папка существует и доступна для записи.</source>
        <translation>The calibration journal %1 cannot be opened (%2). Check that the folder exists and can be written.</translation>
    </message>
    <message>
        <source>Журнал калибровок %1 занят другой программой (%2). Закройте ее или повторите позже.</source>
        <translation>The calibration journal %1 is locked by another program (%2). Close it or try again later.</translation>
    </message>
    <message>
        <source>Журнал калибровок %1 поврежден или не является базой журнала (%2). Переименуйте файл: будет создан новый журнал.</source>
        <translation>The calibration journal %1 is damaged or is not a journal database (%2). Rename the file: a new journal is then made.</translation>
    </message>
    <message>
        <source>Журнал калибровок %1 создан более новой версией программы (%2).</source>
        <translation>The calibration journal %1 was made by a newer version of the program (%2).</translation>
    </message>
    <message>
        <source>Ошибка журнала калибровок %1: %2</source>
        <translation>Calibration journal %1 error: %2</translation>
    </message>
    <message>
        <source>Запись сохранена в файле %1 и будет перенесена в журнал при следующем успешном открытии.</source>
        <translation>The record was kept in the file %1 and will be taken into the journal the next time it opens successfully.</translation>
    </message>
    <message>
        <source>Журнал ведётся на этом компьютере: %1</source>
        <translation>The journal is kept on this computer: %1</translation>
    </message>
    <message>
        <source>Журнал команды: %1. Ожидают отправки на сервер: %2</source>
        <translation>Team journal: %1. Waiting to be sent to the server: %2</translation>
    </message>
    <message>
        <source>Журнал команды: %1</source>
        <translation>Team journal: %1</translation>
    </message>
    <message>
        <source>Отправки ещё не было.</source>
        <translation>Nothing has been sent yet.</translation>
    </message>
    <message>
        <source>Сервер недоступен: %1 (%2)</source>
        <translation>Server unreachable: %1 (%2)</translation>
    </message>
    <message>
        <source>Отправка не удалась: %1 (%2)</source>
        <translation>Sending failed: %1 (%2)</translation>
    </message>
    <message>
        <source>Отправлено: %1, получено: %2 (%3)</source>
        <translation>Sent: %1, received: %2 (%3)</translation>
    </message>
</context>
<context>
    <name>Certificate</name>
    <message>
        <source>Протокол калибровки</source>
        <translation>Calibration certificate</translation>
    </message>
    <message>
        <source>№ %1 от %2</source>
        <translation>No. %1 of %2</translation>
    </message>
    <message>
        <source>Прибор</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Серийный номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>Адрес MODBUS</source>
        <translation>MODBUS address</translation>
    </message>
    <message>
        <source>Дата и время</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>Операция</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>Калибровочный газ / ток</source>
        <translation>Test gas / current</translation>
    </message>
    <message>
        <source>Уровень доступа</source>
        <translation>Access level</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Outcome</translation>
    </message>
    <message>
        <source>Значения до и после</source>
        <translation>Values before and after</translation>
    </message>
    <message>
        <source>Значения не менялись.</source>
        <translation>No values changed.</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>До</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>После</source>
        <translation>After</translation>
    </message>
    <message>
        <source>Калибровку выполнил</source>
        <translation>Calibrated by</translation>
    </message>
    <message>
        <source>Проверил</source>
        <translation>Checked by</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>UUID записи</source>
        <translation>Record UUID</translation>
    </message>
    <message>
        <source>Хеш записи (SHA-256)</source>
        <translation>Record hash (SHA-256)</translation>
    </message>
    <message>
        <source>ещё не присвоен: хеш будет присвоен сервером журнала, когда запись будет отправлена</source>
        <translation>not assigned yet: the journal's server assigns the hash when the record is sent</translation>
    </message>
</context>
<context>
    <name>JournalSettings</name>
    <message>
        <source>Журнал</source>
        <translation>Journal</translation>
    </message>
    <message>
        <source>Где ведётся журнал калибровок. Пустое поле — в файле этого компьютера. Для общего журнала команды укажите сервер: postgresql://пользователь@сервер:5432/база или service=ИМЯ.</source>
        <translation>Where the calibration journal is kept. An empty field: in a file on this computer. For a team's shared journal give its server: postgresql://user@server:5432/database or service=NAME.</translation>
    </message>
    <message>
        <source>пусто — файл этого компьютера</source>
        <translation>empty: a file on this computer</translation>
    </message>
    <message>
        <source>Пароль здесь не указывается: его берёт клиент PostgreSQL из файла ~/.pgpass, из файла, указанного в переменной PGPASSFILE, или из файла служб. Записи всегда сначала сохраняются на этом компьютере и отправляются на сервер, когда он доступен.</source>
        <translation>No password goes here: the PostgreSQL client takes it from ~/.pgpass, from the file the PGPASSFILE variable names, or from the service file. Records are always saved on this computer first and sent to the server when it can be reached.</translation>
    </message>
    <message>
        <source>Журнал ведётся в файле этого компьютера:
%1</source>
        <translation>The journal is kept in a file on this computer:
%1</translation>
    </message>
    <message>
        <source>Журнал команды на сервере. Записи ждут отправки в файле этого компьютера:
%1</source>
        <translation>The team's journal is on a server. Records wait to be sent in a file on this computer:
%1</translation>
    </message>
    <message>
        <source>Журнал ведётся в файле:
%1</source>
        <translation>The journal is kept in the file:
%1</translation>
    </message>
    <message>
        <source>В адресе указан пароль. Пароль здесь не указывается: запишите его в файл ~/.pgpass, в файл, указанный в PGPASSFILE, или в файл служб.</source>
        <translation>The address contains a password. No password goes here: put it into ~/.pgpass, the file PGPASSFILE names, or the service file.</translation>
    </message>
    <message>
        <source>Файл журнала указывается полным путём: %1</source>
        <translation>Give the journal's file by its full path: %1</translation>
    </message>
    <message>
        <source>Расположение журнала не распознано: %1</source>
        <translation>The journal's location is not recognised: %1</translation>
    </message>
</context>
</TS>
