<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Connect_com_port</name>
    <message>
        <source>Поиск остановлен на адресе %1: линия не замолкает (непрерывные данные). Неисправный прибор или помехи на линии.</source>
        <translation>Search stopped at address %1: the line does not fall silent (continuous data). A faulty device or noise on the line.</translation>
    </message>
</context>
<context>
    <name>ErrorBox</name>
    <message>
        <source>Ошибка обмена данными: линия не замолкает (непрерывные данные). Неисправный прибор или помехи на линии</source>
        <translation>Data exchange error: the line does not fall silent (continuous data). A faulty device or noise on the line</translation>
    </message>
    <message>
        <source>Обмен данными прерван</source>
        <translation>Data exchange interrupted</translation>
    </message>
</context>
<context>
    <name>ExchangeWatch</name>
    <message>
        <source>Обмен данными</source>
        <translation>Data exchange</translation>
    </message>
    <message>
        <source>Ожидание ответа прибора...</source>
        <translation>Waiting for the device to answer...</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Не удалось подтвердить, что имитация концентрации на приборе отключена. Прибор может выдавать имитируемое значение: проверьте его.</source>
        <translation>Could not confirm that the concentration simulation on the detector is off. The detector may still output the simulated value: check it.</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
</context>
<context>
    <name>TrafficModel</name>
    <message>
        <source>линия не замолкает (непрерывные данные)</source>
        <translation>line does not fall silent (continuous data)</translation>
    </message>
    <message>
        <source>прерван</source>
        <translation>interrupted</translation>
    </message>
</context>
</TS>
