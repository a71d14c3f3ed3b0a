<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>SensorConfiguration</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Поиск конфигурации по газу</source>
        <translation>Search configuration by gas</translation>
    </message>
    <message>
        <source>Название газа:</source>
        <translation>Gas name:</translation>
    </message>
    <message>
        <source>Поиск</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Сохранить параметры</source>
        <translation>Save parameters</translation>
    </message>
    <message>
        <source>Добавить конфигурацию</source>
        <translation>Add configuration</translation>
    </message>
    <message>
        <source>Ед. измерения:</source>
        <translation>Unit:</translation>
    </message>
    <message>
        <source>Дискретность:</source>
        <translation>Discreteness:</translation>
    </message>
    <message>
        <source>Конфигурация</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Порог 1:</source>
        <translation>Threshold 1:</translation>
    </message>
    <message>
        <source>Убыв.</source>
        <translation>Decr.</translation>
    </message>
    <message>
        <source>Порог 2:</source>
        <translation>Threshold 2:</translation>
    </message>
    <message>
        <source>Гистерезис:</source>
        <translation>Hysteresis:</translation>
    </message>
    <message>
        <source>Мертвая зона:</source>
        <translation>Dead zone:</translation>
    </message>
    <message>
        <source>Мертвая зона 2:</source>
        <translation>Dead zone 2:</translation>
    </message>
    <message>
        <source>Сохраниить конфигурацию</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source> </source>
        <translation> </translation>
    </message>
    <message>
        <source>Ошибка открытия файла</source>
        <translation>File open error</translation>
    </message>
    <message>
        <source>Название газа</source>
        <translation>Gas name</translation>
    </message>
    <message>
        <source>Порог 1</source>
        <translation>Thresh. 1</translation>
    </message>
    <message>
        <source>Порог 2</source>
        <translation>Thresh. 2</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Выберите конфигурацию в списке</source>
        <translation>Select a configuration in the list</translation>
    </message>
    <message>
        <source>Пороги выбранной конфигурации должны быть числами от 0 до 65535</source>
        <translation>The thresholds of the selected configuration must be numbers from 0 to 65535</translation>
    </message>
    <message>
        <source>Возр.</source>
        <translation>Incr.</translation>
    </message>
    <message>
        <source>Не удалось сохранить библиотеку конфигураций</source>
        <translation>The configuration library could not be saved</translation>
    </message>
</context>
</TS>
