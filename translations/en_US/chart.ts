<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MeasureChart</name>
    <message>
        <source>График измерений</source>
        <translation>Measurement chart</translation>
    </message>
    <message>
        <source>Интервал:</source>
        <translation>Span:</translation>
    </message>
    <message>
        <source>1 мин</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>10 мин</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>60 мин</source>
        <translation>60 min</translation>
    </message>
    <message>
        <source>Экспорт PNG</source>
        <translation>Export PNG</translation>
    </message>
    <message>
        <source>Экспорт CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>Концентрация, %1</source>
        <translation>Concentration, %1</translation>
    </message>
    <message>
        <source>Напряжение, мВ</source>
        <translation>Voltage, mV</translation>
    </message>
    <message>
        <source>Ток, мА</source>
        <translation>Current, mA</translation>
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
        <source>мВ</source>
        <translation>mV</translation>
    </message>
    <message>
        <source>мА</source>
        <translation>mA</translation>
    </message>
    <message>
        <source>Измерений пока нет. Точки появляются с каждым чтением: включите «Авто» на вкладке «Чтение» или начните калибровку по газу.</source>
        <translation>No measurements yet. A point is added with every read: switch on "Auto" on the "Reading" tab or start a gas calibration.</translation>
    </message>
    <message>
        <source>Точек на графике: %1, последнее измерение: %2</source>
        <translation>Points on the chart: %1, last measurement: %2</translation>
    </message>
    <message>
        <source>Изображения PNG (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>Таблицы CSV (*.csv)</source>
        <translation>CSV tables (*.csv)</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Ошибка записи файла</source>
        <translation>File write error</translation>
    </message>
</context>
</TS>
