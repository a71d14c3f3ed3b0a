<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>SiteReport</name>
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
</context>
</TS>
