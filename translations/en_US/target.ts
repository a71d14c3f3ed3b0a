<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ErrorBox</name>
    <message>
        <source>Параметры этого прибора не прочитаны: прочитайте параметры. В прибор ничего не записано</source>
        <translation>The parameters of this detector have not been read: read them first. Nothing was written to the detector</translation>
    </message>
    <message>
        <source>К прибору подключён другой прибор: прочитайте параметры заново</source>
        <translation>A different detector answers at this address: read it again</translation>
    </message>
    <message>
        <source>Ошибка обмена данными: не удалось прочитать заводской номер и тип прибора перед записью. В прибор ничего не записано</source>
        <translation>Data exchange error: the serial number and type of the detector could not be read before writing. Nothing was written to the detector</translation>
    </message>
    <message>
        <source>Ошибка обмена данными: записано, но не подтверждено. Прочитайте прибор заново, прежде чем полагаться на записанное</source>
        <translation>Data exchange error: written, not verified. Read the detector again before relying on it</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Параметры прибора не прочитаны.
Нажмите «Считать параметры».</source>
        <translation>The detector&apos;s parameters have not been read.
Press &quot;Read parameters&quot;.</translation>
    </message>
    <message>
        <source>Калибровочные параметры не прочитаны.</source>
        <translation>The calibration parameters have not been read.</translation>
    </message>
    <message>
        <source>Параметры этого прибора не прочитаны: прочитайте параметры, прежде чем сохранять их в файл</source>
        <translation>The parameters of this detector have not been read: read them before saving them to a file</translation>
    </message>
</context>
<context>
    <name>MeasureWindow</name>
    <message>
        <source>нет связи: значения последнего чтения в %1</source>
        <translation>no connection: values of the last read at %1</translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation>no connection</translation>
    </message>
</context>
<context>
    <name>TrafficModel</name>
    <message>
        <source>линия потеряна после отправки запроса</source>
        <translation>line lost after the request was sent</translation>
    </message>
</context>
</TS>
