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
    <message>
        <source>другой</source>
        <translation>other</translation>
    </message>
    <message>
        <source>Интервал в минутах, от 1 до 60</source>
        <translation>Span in minutes, 1 to 60</translation>
    </message>
    <message>
        <source> мин</source>
        <translation> min</translation>
    </message>
    <message>
        <source>Остановить движение графика; измерения продолжают записываться</source>
        <translation>Stop the chart from moving; the readings go on being recorded</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Колесо мыши или выделение мышью увеличивает участок времени</source>
        <translation>The mouse wheel or a band drawn with the mouse zooms in on a stretch of time</translation>
    </message>
    <message>
        <source>Сбросить масштаб</source>
        <translation>Reset zoom</translation>
    </message>
    <message>
        <source>(график остановлен, измерения продолжают записываться)</source>
        <translation>(chart stopped; the readings go on being recorded)</translation>
    </message>
    <message>
        <source>Датчик %1, %2, %3–%4</source>
        <translation>Detector %1, %2, %3–%4</translation>
    </message>
</context>
<context>
    <name>MeasureTrend</name>
    <message>
        <source>Заводской номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
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
        <source>Порог 1, %1</source>
        <translation>Threshold 1, %1</translation>
    </message>
    <message>
        <source>Порог 2, %1</source>
        <translation>Threshold 2, %1</translation>
    </message>
</context>
</TS>
