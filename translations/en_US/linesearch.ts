<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Connect_com_port</name>
    <message>
        <source>Адрес MODBUS:</source>
        <translation>Modbus address:</translation>
    </message>
    <message>
        <source>Поиск приборов</source>
        <translation>Find devices</translation>
    </message>
    <message>
        <source>Опросить адреса 1–247 выбранного порта</source>
        <translation>Ask addresses 1–247 on the chosen port</translation>
    </message>
    <message>
        <source>Найденные приборы</source>
        <translation>Devices found</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Тип прибора</source>
        <translation>Device type</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Заводской номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Выбрать</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Опрашивается адрес %1 из %2
Найдено приборов: %3</source>
        <translation>Asking address %1 of %2
Devices found: %3</translation>
    </message>
    <message>
        <source>Ответ с ошибкой</source>
        <translation>Faulty reply</translation>
    </message>
    <message>
        <source>TL-02, тип 1</source>
        <translation>TL-02, type 1</translation>
    </message>
    <message>
        <source>TL-02, тип 2</source>
        <translation>TL-02, type 2</translation>
    </message>
    <message>
        <source>Загрузчик</source>
        <translation>Bootloader</translation>
    </message>
    <message>
        <source>Не опознан (тип %1)</source>
        <translation>Unrecognised (type %1)</translation>
    </message>
    <message>
        <source>Поиск прерван.</source>
        <translation>Search stopped.</translation>
    </message>
    <message>
        <source>На адресах %1–%2 приборы не найдены; поиск прерван.</source>
        <translation>No devices at addresses %1–%2; search stopped.</translation>
    </message>
    <message>
        <source>На адресах %1–%2 приборы не найдены.</source>
        <translation>No devices at addresses %1–%2.</translation>
    </message>
    <message>
        <source>не считана</source>
        <translation>not read</translation>
    </message>
    <message>
        <source>не считан</source>
        <translation>not read</translation>
    </message>
    <message>
        <source>Найдено приборов: %1 на адресах %2–%3.</source>
        <translation>Devices found: %1 at addresses %2–%3.</translation>
    </message>
</context>
</TS>
