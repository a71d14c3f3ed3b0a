<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Calibration</name>
    <message>
        <source>По шагам</source>
        <translation>Guided</translation>
    </message>
    <message>
        <source>Калибровка</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Проверка работоспособности</source>
        <translation>Function check</translation>
    </message>
    <message>
        <source>Калибровка выполнена</source>
        <translation>Calibration done</translation>
    </message>
    <message>
        <source>Калибровка выполнена; коды не перечитаны: %1</source>
        <translation>Calibration done; the codes were not read back: %1</translation>
    </message>
    <message>
        <source>По газу</source>
        <translation>Gas</translation>
    </message>
    <message>
        <source>Калибровка нуля</source>
        <translation>Zero calibration</translation>
    </message>
    <message>
        <source>Калибровка диапазона</source>
        <translation>Span calibration</translation>
    </message>
    <message>
        <source>Калибровать ноль</source>
        <translation>Calibrate zero</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Калибровка сенсора</source>
        <translation>Sensor calibration</translation>
    </message>
    <message>
        <source>Калибровочный газ:</source>
        <translation>Calibration gas:</translation>
    </message>
    <message>
        <source>Текущая концетрация:</source>
        <translation>Present concentration:</translation>
    </message>
    <message>
        <source>Статусное состояние</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Токового входа</source>
        <translation>Current input</translation>
    </message>
    <message>
        <source>Введите текущее значение
подаваемого тока в мА</source>
        <translation>Enter the present value
of the input current in mA</translation>
    </message>
    <message>
        <source> мА</source>
        <translation> mA</translation>
    </message>
    <message>
        <source>Калибровка точки 4 мА</source>
        <translation>Calibrate 4 mA point</translation>
    </message>
    <message>
        <source>Калибровка точки 20 мА</source>
        <translation>Calibrate 20 mA point</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Токового выхода</source>
        <translation>Current output</translation>
    </message>
    <message>
        <source>Введите текущее значение
выходного тока в мА</source>
        <translation>Enter the present value
of the output current in mA</translation>
    </message>
    <message>
        <source>Произвольный ток</source>
        <translation>Test current</translation>
    </message>
    <message>
        <source>Калибровка невозможна: верхнее и нижнее значения диапазона совпадают</source>
        <translation>Calibration is not possible: the upper and lower range values are equal</translation>
    </message>
    <message>
        <source>Калибровка невозможна: калибровочная концентрация равна нижнему значению диапазона</source>
        <translation>Calibration is not possible: the calibration concentration equals the lower range value</translation>
    </message>
    <message>
        <source>Калибровать диапазон</source>
        <translation>Calibrate span</translation>
    </message>
    <message>
        <source>Подтвердить калибровку</source>
        <translation>Confirm calibration</translation>
    </message>
    <message>
        <source>Подайте нулевой газ</source>
        <translation>Apply zero gas</translation>
    </message>
    <message>
        <source>Подайте калибровочный газ</source>
        <translation>Apply calibration gas</translation>
    </message>
    <message>
        <source>Введите тестовое значение
выходного тока в mA</source>
        <translation>Enter the test value
of the output current in mA</translation>
    </message>
    <message>
        <source>Введите текущее значение
выходного тока в mA</source>
        <translation>Enter the present value
of the output current in mA</translation>
    </message>
    <message>
        <source>Калибровка невозможна: вычисленный код лежит вне диапазона 0-65535. Ничего не записано</source>
        <translation>Calibration is not possible: the computed code lies outside 0-65535. Nothing was written</translation>
    </message>
    <message>
        <source>Ошибка обмена данными</source>
        <translation>Data exchange error</translation>
    </message>
</context>
<context>
    <name>DeviceSetting_2_Window</name>
    <message>
        <source>Пороги</source>
        <translation>Thresholds</translation>
    </message>
    <message>
        <source>Автосброс</source>
        <translation>Auto reset</translation>
    </message>
    <message>
        <source>П1</source>
        <translation>T1</translation>
    </message>
    <message>
        <source>Убыв.</source>
        <translation>Falling</translation>
    </message>
    <message>
        <source>П2</source>
        <translation>T2</translation>
    </message>
    <message>
        <source>Гистерезис:</source>
        <translation>Hysteresis:</translation>
    </message>
    <message>
        <source>Мертв. зона:</source>
        <translation>Dead zone:</translation>
    </message>
    <message>
        <source>Мертв. зона 2:</source>
        <translation>Dead zone 2:</translation>
    </message>
    <message>
        <source>Верхнее зн-е диапазона:</source>
        <translation>Upper range value:</translation>
    </message>
    <message>
        <source>Таймеры</source>
        <translation>Timers</translation>
    </message>
    <message>
        <source>Задержка сраб. порогов:</source>
        <translation>Threshold trip delay:</translation>
    </message>
    <message>
        <source> c</source>
        <translation> s</translation>
    </message>
    <message>
        <source>Задержка сброса порогов:</source>
        <translation>Threshold reset delay:</translation>
    </message>
    <message>
        <source>Ед. измерения:</source>
        <translation>Unit:</translation>
    </message>
    <message>
        <source>Дискретность:</source>
        <translation>Resolution:</translation>
    </message>
    <message>
        <source>Тип токового вых.:</source>
        <translation>Output type:</translation>
    </message>
    <message>
        <source>Скорость RS485</source>
        <translation>RS485 speed</translation>
    </message>
    <message>
        <source>Сетевой адресс:</source>
        <translation>Network address:</translation>
    </message>
    <message>
        <source>Заводской номер:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>Ток потенц. датчика:</source>
        <translation>Sensor current:</translation>
    </message>
    <message>
        <source> mA</source>
        <translation> mA</translation>
    </message>
    <message>
        <source>Программа работает с прибором только на скорости 9600 бод</source>
        <translation>The program talks to the detector at 9600 baud only</translation>
    </message>
    <message>
        <source>Возр.</source>
        <translation>Rising</translation>
    </message>
    <message>
        <source>Мин. значение концентрации</source>
        <translation>Minimum concentration</translation>
    </message>
    <message>
        <source>Верхнее зн-е диапазона</source>
        <translation>Upper range value</translation>
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
        <source>Гистерезис</source>
        <translation>Hysteresis</translation>
    </message>
    <message>
        <source>Мертв. зона</source>
        <translation>Dead zone</translation>
    </message>
    <message>
        <source>Мертв. зона 2</source>
        <translation>Dead zone 2</translation>
    </message>
    <message>
        <source>Калибровочная концентрация</source>
        <translation>Calibration concentration</translation>
    </message>
    <message>
        <source>Дискретность</source>
        <translation>Discreteness</translation>
    </message>
    <message>
        <source>Дискретность не изменена: с ней не поместятся в регистр значения: %1</source>
        <translation>Discreteness not changed: with it these values would not fit their registers: %1</translation>
    </message>
</context>
<context>
    <name>DeviceSetting_3_Window</name>
    <message>
        <source>Калибровочные параметры</source>
        <translation>Calibration parameters</translation>
    </message>
    <message>
        <source>Значение АЦП 4 мА:</source>
        <translation>ADC at 4 mA:</translation>
    </message>
    <message>
        <source>Значение АЦП 20 мА:</source>
        <translation>ADC at 20 mA:</translation>
    </message>
    <message>
        <source>PWM 4 мА:</source>
        <translation>PWM 4 mA:</translation>
    </message>
    <message>
        <source>PWM 20 мА:</source>
        <translation>PWM 20 mA:</translation>
    </message>
    <message>
        <source>Мин. значение&lt;br&gt;концентрации:</source>
        <translation>Minimum&lt;br&gt;concentration:</translation>
    </message>
    <message>
        <source>Макс. значение&lt;br&gt;концентрации:</source>
        <translation>Maximum&lt;br&gt;concentration:</translation>
    </message>
    <message>
        <source>Калибровочная&lt;br&gt;концентрация:</source>
        <translation>Calibration&lt;br&gt;concentration:</translation>
    </message>
    <message>
        <source>АЦП калибровки:</source>
        <translation>Calibration ADC:</translation>
    </message>
</context>
<context>
    <name>MeasureWindow</name>
    <message>
        <source>Идентификатор устройства</source>
        <translation>Device identification</translation>
    </message>
    <message>
        <source>Заводской номер:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>Производитель:</source>
        <translation>Manufacturer:</translation>
    </message>
    <message>
        <source>Модель:</source>
        <translation>Model:</translation>
    </message>
    <message>
        <source>Прошивка:</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <source>Дата прошивки:</source>
        <translation>Firmware date:</translation>
    </message>
    <message>
        <source>Версия платы:</source>
        <translation>Board version:</translation>
    </message>
    <message>
        <source>Измерения</source>
        <translation>Measurements</translation>
    </message>
    <message>
        <source>Текущее значение АЦП:</source>
        <translation>Present ADC code:</translation>
    </message>
    <message>
        <source>Текущее значение тока:</source>
        <translation>Present current:</translation>
    </message>
    <message>
        <source> мА</source>
        <translation> mA</translation>
    </message>
    <message>
        <source>Текущая концентрация:</source>
        <translation>Present concentration:</translation>
    </message>
    <message>
        <source>Текущий PWM:</source>
        <translation>Current PWM:</translation>
    </message>
    <message>
        <source>Имитация концентрации Выкл.</source>
        <translation>Concentration simulation Off</translation>
    </message>
    <message>
        <source>Текущее напряжение</source>
        <translation>Present voltage</translation>
    </message>
    <message>
        <source> мВ</source>
        <translation> mV</translation>
    </message>
    <message>
        <source>Текущее значение тока</source>
        <translation>Present current</translation>
    </message>
    <message>
        <source>Имитация концентрации Вкл.</source>
        <translation>Concentration simulation On</translation>
    </message>
</context>
</TS>
