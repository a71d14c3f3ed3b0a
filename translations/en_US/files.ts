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
    <message>
        <source>Файл: %1
Размер: %2 байт
SHA-256: %3</source>
        <translation>File: %1
Size: %2 bytes
SHA-256: %3</translation>
    </message>
    <message>
        <source>в файле всего %1 байт: в нём нет таблицы векторов (указателя стека и адреса сброса, %2 байт)</source>
        <translation>the file has only %1 bytes: it holds no vector table (initial stack pointer and reset address, %2 bytes)</translation>
    </message>
    <message>
        <source>слово 0 (начальный указатель стека) равно %1, а не адресу в ОЗУ (%2-%3)</source>
        <translation>word 0 (initial stack pointer) is %1, not an address in RAM (%2-%3)</translation>
    </message>
    <message>
        <source>слово 1 (адрес сброса) равно %1: адрес чётный, а адрес сброса Cortex-M нечётный</source>
        <translation>word 1 (reset address) is %1: an even address, while a Cortex-M reset address is odd</translation>
    </message>
    <message>
        <source>слово 1 (адрес сброса) равно %1: вне 256 КБ флеш-памяти (%2-%3)</source>
        <translation>word 1 (reset address) is %1: outside the 256 KiB of flash (%2-%3)</translation>
    </message>
    <message>
        <source>слово 1 (адрес сброса) равно %1: вне образа (%2-%3)</source>
        <translation>word 1 (reset address) is %1: outside the image (%2-%3)</translation>
    </message>
    <message>
        <source>Файл %1 не похож на прошивку прибора TL-02 для адреса 0x08001C00:
%2

Прибор с такой прошивкой может не запуститься. Всё равно загрузить?</source>
        <translation>The file %1 does not look like TL-02 firmware for address 0x08001C00:
%2

A detector with such firmware may not start. Load it anyway?</translation>
    </message>
    <message>
        <source>Да</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>Нет</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Файл %1 не похож на прошивку прибора TL-02 для адреса 0x08001C00:
%2
В устройство ничего не отправлено.</source>
        <translation>The file %1 does not look like TL-02 firmware for address 0x08001C00:
%2
Nothing was sent to the device.</translation>
    </message>
</context>
</TS>
