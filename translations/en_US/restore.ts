<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>размер %1 байт, а файл параметров не больше %2 байт</source>
        <translation>%1 bytes, while a parameter file has at most %2 bytes</translation>
    </message>
    <message>
        <source>строка %1, позиция %2: недопустимый символ %3(код 0x%4)</source>
        <translation>line %1, column %2: character %3(code 0x%4) is not allowed</translation>
    </message>
    <message>
        <source>строка %1: нечетное число шестнадцатеричных цифр</source>
        <translation>line %1: odd number of hex digits</translation>
    </message>
    <message>
        <source>строка %1: больше %2 байт данных</source>
        <translation>line %1: more than %2 bytes of data</translation>
    </message>
    <message>
        <source>Файл %1 не является файлом параметров:
%2.
Параметры в прибор не записаны.</source>
        <translation>%1 is not a parameter file:
%2.
Nothing was written to the device.</translation>
    </message>
    <message>
        <source>Файл %1 содержит значения, которых не бывает у прибора TL-02:
%2
Параметры в прибор не записаны.</source>
        <translation>%1 holds values no TL-02 detector has:
%2
Nothing was written to the device.</translation>
    </message>
</context>
<context>
    <name>ParamText</name>
    <message>
        <source>Порог 1</source>
        <translation>Threshold 1</translation>
    </message>
    <message>
        <source>Направление порога 1</source>
        <translation>Threshold 1 direction</translation>
    </message>
    <message>
        <source>Автосброс порога 1</source>
        <translation>Threshold 1 auto-reset</translation>
    </message>
    <message>
        <source>Порог 2</source>
        <translation>Threshold 2</translation>
    </message>
    <message>
        <source>Направление порога 2</source>
        <translation>Threshold 2 direction</translation>
    </message>
    <message>
        <source>Автосброс порога 2</source>
        <translation>Threshold 2 auto-reset</translation>
    </message>
    <message>
        <source>Гистерезис</source>
        <translation>Hysteresis</translation>
    </message>
    <message>
        <source>Мертвая зона</source>
        <translation>Dead zone</translation>
    </message>
    <message>
        <source>Мертвая зона 2</source>
        <translation>Dead zone 2</translation>
    </message>
    <message>
        <source>Верхнее значение диапазона</source>
        <translation>Upper range value</translation>
    </message>
    <message>
        <source>Нижнее значение диапазона</source>
        <translation>Lower range value</translation>
    </message>
    <message>
        <source>Задержка срабатывания порогов</source>
        <translation>Threshold trip delay</translation>
    </message>
    <message>
        <source>Задержка сброса порогов</source>
        <translation>Threshold reset delay</translation>
    </message>
    <message>
        <source>Единица измерения</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Дискретность</source>
        <translation>Discreteness</translation>
    </message>
    <message>
        <source>Тип токового выхода</source>
        <translation>Current output type</translation>
    </message>
    <message>
        <source>Ток потенц. датчика</source>
        <translation>Sensor current</translation>
    </message>
    <message>
        <source>Сетевой адрес</source>
        <translation>Network address</translation>
    </message>
    <message>
        <source>Скорость RS485</source>
        <translation>RS485 speed</translation>
    </message>
    <message>
        <source>Заводской номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Значение АЦП 4 мА</source>
        <translation>ADC code at 4 mA</translation>
    </message>
    <message>
        <source>Значение АЦП 20 мА</source>
        <translation>ADC code at 20 mA</translation>
    </message>
    <message>
        <source>АЦП калибровки</source>
        <translation>Calibration ADC code</translation>
    </message>
    <message>
        <source>Калибровочная концентрация</source>
        <translation>Calibration concentration</translation>
    </message>
    <message>
        <source>PWM 4 мА</source>
        <translation>PWM 4 mA</translation>
    </message>
    <message>
        <source>PWM 20 мА</source>
        <translation>PWM 20 mA</translation>
    </message>
    <message>
        <source>Имитация концентрации</source>
        <translation>Concentration simulation</translation>
    </message>
    <message>
        <source>Имитируемое значение</source>
        <translation>Simulated value</translation>
    </message>
    <message>
        <source>Версия платы</source>
        <translation>Board version</translation>
    </message>
    <message>
        <source>Регистр 0x100C</source>
        <translation>Register 0x100C</translation>
    </message>
    <message>
        <source>Регистр команд</source>
        <translation>Command register</translation>
    </message>
    <message>
        <source>Убыв.</source>
        <translation>Decr.</translation>
    </message>
    <message>
        <source>Возр.</source>
        <translation>Incr.</translation>
    </message>
    <message>
        <source>Вкл.</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Выкл.</source>
        <translation>Off</translation>
    </message>
    <message>
        <source> c</source>
        <translation> s</translation>
    </message>
    <message>
        <source>%1 (%2) выше верхнего значения диапазона (%3): такой порог никогда не сработает</source>
        <translation>%1 (%2) is above the upper range value (%3): such a threshold can never trip</translation>
    </message>
    <message>
        <source>Параметры в прибор не записаны.</source>
        <translation>No parameters were written to the device.</translation>
    </message>
    <message>
        <source>неизвестный код %1</source>
        <translation>unknown code %1</translation>
    </message>
    <message>
        <source>допустимо от %1 до %2</source>
        <translation>allowed %1 to %2</translation>
    </message>
</context>
<context>
    <name>RestoreConfirmDialog</name>
    <message>
        <source>Загрузка конфигурации в прибор</source>
        <translation>Load configuration into the device</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>В приборе</source>
        <translation>In the device</translation>
    </message>
    <message>
        <source>Будет записано</source>
        <translation>To be written</translation>
    </message>
    <message>
        <source>Копировать из файла собственные параметры прибора:
заводской номер, сетевой адрес, версию платы и калибровку</source>
        <translation>Copy the detector's own values from the file too:
serial number, network address, board version and calibration</translation>
    </message>
    <message>
        <source>Записать в прибор</source>
        <translation>Write to the device</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Файл «%1» будет записан в прибор. Проверьте изменения:</source>
        <translation>“%1” will be written to the device. Check the changes:</translation>
    </message>
    <message>
        <source>Значения в приборе уже совпадают со значениями файла.</source>
        <translation>The device already holds the file's values.</translation>
    </message>
    <message>
        <source>В файле включена имитация концентрации: она будет записана выключенной.</source>
        <translation>The file has the concentration simulation on: it will be written as off.</translation>
    </message>
    <message>
        <source>%1 (в файле %2)</source>
        <translation>%1 (file: %2)</translation>
    </message>
    <message>
        <source>Остаются как в приборе (собственные параметры прибора): %1.</source>
        <translation>Kept as in the device (the detector's own values): %1.</translation>
    </message>
    <message>
        <source>Остаются как в приборе (не меняются на этом уровне доступа или этим прибором): %1.</source>
        <translation>Kept as in the device (not changed at this access level or on this device): %1.</translation>
    </message>
    <message>
        <source>Запись невозможна: значения прибора (%1) не помещаются в дискретность файла.</source>
        <translation>Cannot write: the device's values (%1) do not fit the file's discreteness.</translation>
    </message>
</context>
</TS>
