<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>FunctionCheck</name>
    <message>
        <source>нет показаний при поданном газе</source>
        <translation>no reading while the gas was applied</translation>
    </message>
    <message>
        <source>показания не установились вовремя</source>
        <translation>reading did not settle in time</translation>
    </message>
    <message>
        <source>показания вне допуска</source>
        <translation>reading out of tolerance</translation>
    </message>
    <message>
        <source>порог 1 не сработал</source>
        <translation>threshold 1 did not trip</translation>
    </message>
    <message>
        <source>порог 2 не сработал</source>
        <translation>threshold 2 did not trip</translation>
    </message>
    <message>
        <source>после снятия газа показания не вернулись за пороги</source>
        <translation>reading did not return past the thresholds after the gas was removed</translation>
    </message>
    <message>
        <source>нет показаний после регулировки</source>
        <translation>no reading after the adjustment</translation>
    </message>
    <message>
        <source>показания после регулировки вне допуска</source>
        <translation>reading after the adjustment out of tolerance</translation>
    </message>
</context>
</TS>
