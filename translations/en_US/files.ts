<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Файл конфигурации</source>
        <translation>Configuration file</translation>
    </message>
    <message>
        <source>(*.txt);</source>
        <translation>(*.txt);</translation>
    </message>
    <message>
        <source>Файл прошивки</source>
        <translation>Firmware file</translation>
    </message>
    <message>
        <source>(*.bin);</source>
        <translation>(*.bin);</translation>
    </message>
    <message>
        <source>Обновление версии ПО</source>
        <translation>Firmware update</translation>
    </message>
    <message>
        <source>Загрузить в устройство?</source>
        <translation>Load into the device?</translation>
    </message>
    <message>
        <source>Контроллер успешно прошит</source>
        <translation>The controller was flashed successfully</translation>
    </message>
    <message>
        <source>Ошибка записи файла</source>
        <translation>File write error</translation>
    </message>
    <message>
        <source>Файл конфигурации неполный: прочитано %1 байт из %2.
Параметры в прибор не записаны.</source>
        <translation>The configuration file is incomplete: %1 of %2 bytes read.
No parameters were written to the device.</translation>
    </message>
    <message>
        <source>Файл прошивки пустой</source>
        <translation>The firmware file is empty</translation>
    </message>
    <message>
        <source>Файл прошивки слишком большой: %1 байт, допустимо не более %2 байт</source>
        <translation>The firmware file is too large: %1 bytes, at most %2 bytes are allowed</translation>
    </message>
    <message>
        <source>Ошибка чтения файла</source>
        <translation>File read error</translation>
    </message>
    <message>
        <source>Пожалуйста подождите</source>
        <translation>Please wait</translation>
    </message>
    <message>
        <source>Завершить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Выполнение процесса...</source>
        <translation>Working...</translation>
    </message>
    <message>
        <source>Выполнение процесса,
осталось %1 секунд</source>
        <translation>Working,
%1 seconds left</translation>
    </message>
    <message>
        <source>Отменено пользователем</source>
        <translation>Cancelled by the user</translation>
    </message>
</context>
</TS>
