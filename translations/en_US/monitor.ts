<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>TrafficModel</name>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Направление</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Функция</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>Содержимое</source>
        <translation>Contents</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Байты</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>чтение регистров хранения</source>
        <translation>read holding registers</translation>
    </message>
    <message>
        <source>чтение входных регистров</source>
        <translation>read input registers</translation>
    </message>
    <message>
        <source>запись регистра</source>
        <translation>write single register</translation>
    </message>
    <message>
        <source>запись блока памяти</source>
        <translation>write memory block</translation>
    </message>
    <message>
        <source>запись регистров</source>
        <translation>write multiple registers</translation>
    </message>
    <message>
        <source>запись файловой записи</source>
        <translation>write file record</translation>
    </message>
    <message>
        <source>чтение файловой записи</source>
        <translation>read file record</translation>
    </message>
    <message>
        <source>идентификация устройства</source>
        <translation>read device identification</translation>
    </message>
    <message>
        <source>функция %1</source>
        <translation>function %1</translation>
    </message>
    <message>
        <source>недопустимая функция</source>
        <translation>illegal function</translation>
    </message>
    <message>
        <source>недопустимый адрес данных</source>
        <translation>illegal data address</translation>
    </message>
    <message>
        <source>недопустимое значение данных</source>
        <translation>illegal data value</translation>
    </message>
    <message>
        <source>отказ устройства</source>
        <translation>server device failure</translation>
    </message>
    <message>
        <source>запрос принят, выполняется</source>
        <translation>acknowledge: request taken, in progress</translation>
    </message>
    <message>
        <source>устройство занято</source>
        <translation>server device busy</translation>
    </message>
    <message>
        <source>ошибка четности памяти</source>
        <translation>memory parity error</translation>
    </message>
    <message>
        <source>путь шлюза недоступен</source>
        <translation>gateway path unavailable</translation>
    </message>
    <message>
        <source>устройство за шлюзом не отвечает</source>
        <translation>gateway target device failed to respond</translation>
    </message>
    <message>
        <source>исключение %1</source>
        <translation>exception %1</translation>
    </message>
    <message>
        <source>исключение %1: %2</source>
        <translation>exception %1: %2</translation>
    </message>
    <message>
        <source>перезапуск</source>
        <translation>restart</translation>
    </message>
    <message>
        <source>сохранить заводские настройки</source>
        <translation>store factory settings</translation>
    </message>
    <message>
        <source>восстановить заводские настройки</source>
        <translation>restore factory settings</translation>
    </message>
    <message>
        <source>ручное выкл. звука: вкл.</source>
        <translation>manual sound switch-off: on</translation>
    </message>
    <message>
        <source>ручное выкл. звука: выкл.</source>
        <translation>manual sound switch-off: off</translation>
    </message>
    <message>
        <source>переход в загрузчик</source>
        <translation>enter the bootloader</translation>
    </message>
    <message>
        <source>команда %1</source>
        <translation>command %1</translation>
    </message>
    <message>
        <source>команда %1: %2</source>
        <translation>command %1: %2</translation>
    </message>
    <message>
        <source>%1 рег.</source>
        <translation>%1 reg.</translation>
    </message>
    <message>
        <source>регистр %1</source>
        <translation>register %1</translation>
    </message>
    <message>
        <source>регистры %1–%2 (%3)</source>
        <translation>registers %1–%2 (%3)</translation>
    </message>
    <message>
        <source>текст «%1»</source>
        <translation>text &quot;%1&quot;</translation>
    </message>
    <message>
        <source>слишком короткий кадр</source>
        <translation>frame too short</translation>
    </message>
    <message>
        <source>запись подтверждена: %1</source>
        <translation>write confirmed: %1</translation>
    </message>
    <message>
        <source>адрес %1, %2 байт</source>
        <translation>address %1, %2 bytes</translation>
    </message>
    <message>
        <source>адрес %1</source>
        <translation>address %1</translation>
    </message>
    <message>
        <source>код %1, с объекта %2</source>
        <translation>code %1, from object %2</translation>
    </message>
    <message>
        <source> [ошибка CRC]</source>
        <translation> [CRC error]</translation>
    </message>
    <message>
        <source> [неполный]</source>
        <translation> [incomplete]</translation>
    </message>
    <message>
        <source>ок, широковещательный: ответа нет</source>
        <translation>ok, broadcast: no reply expected</translation>
    </message>
    <message>
        <source>ок</source>
        <translation>ok</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no reply</translation>
    </message>
    <message>
        <source>ошибка CRC или искаженный ответ</source>
        <translation>CRC error or garbled reply</translation>
    </message>
    <message>
        <source>ответ не подходит к запросу</source>
        <translation>reply does not fit the request</translation>
    </message>
    <message>
        <source>не отправлен (тайм-аут записи или линия потеряна)</source>
        <translation>not sent (write time-out or line lost)</translation>
    </message>
    <message>
        <source>исключение</source>
        <translation>exception</translation>
    </message>
    <message>
        <source>неизвестная функция в ответе</source>
        <translation>unknown function in the reply</translation>
    </message>
    <message>
        <source>нет соединения</source>
        <translation>not connected</translation>
    </message>
    <message>
        <source>результат %1</source>
        <translation>result %1</translation>
    </message>
    <message>
        <source>запрос</source>
        <translation>request</translation>
    </message>
    <message>
        <source>ответ</source>
        <translation>reply</translation>
    </message>
    <message>
        <source>запрос (не отправлен)</source>
        <translation>request (not sent)</translation>
    </message>
    <message>
        <source>%1 (всем)</source>
        <translation>%1 (broadcast)</translation>
    </message>
    <message>
        <source>текст</source>
        <translation>text</translation>
    </message>
    <message>
        <source>Порог 1</source>
        <translation>Threshold 1</translation>
    </message>
    <message>
        <source>Порог 1, направление</source>
        <translation>Threshold 1, direction</translation>
    </message>
    <message>
        <source>Порог 1, автосброс</source>
        <translation>Threshold 1, auto reset</translation>
    </message>
    <message>
        <source>Порог 2</source>
        <translation>Threshold 2</translation>
    </message>
    <message>
        <source>Порог 2, направление</source>
        <translation>Threshold 2, direction</translation>
    </message>
    <message>
        <source>Порог 2, автосброс</source>
        <translation>Threshold 2, auto reset</translation>
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
        <source>Верхнее зн-е диапазона</source>
        <translation>Upper range value</translation>
    </message>
    <message>
        <source>Нижнее зн-е диапазона</source>
        <translation>Lower range value</translation>
    </message>
    <message>
        <source>Задержка сраб. порогов</source>
        <translation>Threshold trip delay</translation>
    </message>
    <message>
        <source>Задержка сброса порогов</source>
        <translation>Threshold reset delay</translation>
    </message>
    <message>
        <source>Ед. измерения</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Дискретность</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <source>Тип токового вых.</source>
        <translation>Output type</translation>
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
        <translation>ADC at 4 mA</translation>
    </message>
    <message>
        <source>Значение АЦП 20 мА</source>
        <translation>ADC at 20 mA</translation>
    </message>
    <message>
        <source>АЦП калибровки</source>
        <translation>Calibration ADC</translation>
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
        <source>Код АЦП имитации</source>
        <translation>Simulated ADC code</translation>
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
        <source>Код АЦП</source>
        <translation>ADC code</translation>
    </message>
    <message>
        <source>Концентрация</source>
        <translation>Concentration</translation>
    </message>
    <message>
        <source>Код PWM</source>
        <translation>PWM code</translation>
    </message>
    <message>
        <source>Тип устройства</source>
        <translation>Device type</translation>
    </message>
    <message>
        <source>Статус</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Производитель</source>
        <translation>Vendor</translation>
    </message>
    <message>
        <source>Код изделия</source>
        <translation>Product code</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>Изделие</source>
        <translation>Product name</translation>
    </message>
    <message>
        <source>Модель</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>Приложение</source>
        <translation>Application</translation>
    </message>
    <message>
        <source>Дата ПО</source>
        <translation>Firmware date</translation>
    </message>
    <message>
        <source>объект %1</source>
        <translation>object %1</translation>
    </message>
    <message>
        <source>с</source>
        <translation>s</translation>
    </message>
    <message>
        <source>мА</source>
        <translation>mA</translation>
    </message>
    <message>
        <source>мВ</source>
        <translation>mV</translation>
    </message>
    <message>
        <source>вкл.</source>
        <translation>on</translation>
    </message>
    <message>
        <source>выкл.</source>
        <translation>off</translation>
    </message>
    <message>
        <source>убывание</source>
        <translation>decreasing</translation>
    </message>
    <message>
        <source>возрастание</source>
        <translation>increasing</translation>
    </message>
    <message>
        <source>Выходное напряжение</source>
        <translation>Output voltage</translation>
    </message>
    <message>
        <source>Выходной ток</source>
        <translation>Output current</translation>
    </message>
    <message>
        <source>входной регистр %1</source>
        <translation>input register %1</translation>
    </message>
    <message>
        <source>%1 (ручное выкл. звука: %2)</source>
        <translation>%1 (manual sound switch-off: %2)</translation>
    </message>
    <message>
        <source>%1 = %2 (масштаб неизвестен)</source>
        <translation>%1 = %2 (scale unknown)</translation>
    </message>
</context>
<context>
    <name>TrafficMonitor</name>
    <message>
        <source>Монитор обмена</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Пока пауза нажата, таблица не пополняется; кадры записываются дальше (последние 10000) и появятся после паузы</source>
        <translation>While paused the table takes no new rows; frames are still recorded (the last 10000) and appear when the pause ends</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Адрес:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>все</source>
        <translation>all</translation>
    </message>
    <message>
        <source>Функция:</source>
        <translation>Function:</translation>
    </message>
    <message>
        <source>Сохранить как текст...</source>
        <translation>Save as text...</translation>
    </message>
    <message>
        <source>Сохранить как CSV...</source>
        <translation>Save as CSV...</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Кадров в журнале: %1 из %2, в таблице: %3</source>
        <translation>Frames recorded: %1 of %2, in the table: %3</translation>
    </message>
    <message>
        <source>; пауза: новые кадры записываются, но не показываются</source>
        <translation>; paused: new frames are recorded but not shown</translation>
    </message>
    <message>
        <source>Сохранить журнал обмена</source>
        <translation>Save the traffic log</translation>
    </message>
    <message>
        <source>Файлы CSV (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>Текстовые файлы (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Ошибка записи файла %1</source>
        <translation>Error writing file %1</translation>
    </message>
    <message>
        <source>только ошибки</source>
        <translation>failures only</translation>
    </message>
    <message>
        <source>Только кадры попыток, которые не удались: нет ответа, ошибка CRC, исключение, запрос не отправлен и т. п.</source>
        <translation>Only the frames of attempts that failed: no reply, CRC error, exception, request not sent and the like</translation>
    </message>
    <message>
        <source>Статистика линии по адресам; «Очистить» обнуляет ее вместе с таблицей</source>
        <translation>Line statistics by address; "Clear" resets them with the table</translation>
    </message>
</context>
<context>
    <name>TrafficStatsModel</name>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Запросов</source>
        <translation>Requests</translation>
    </message>
    <message>
        <source>Ответов</source>
        <translation>Replies</translation>
    </message>
    <message>
        <source>Нет ответа</source>
        <translation>No reply</translation>
    </message>
    <message>
        <source>Ошибок CRC</source>
        <translation>CRC errors</translation>
    </message>
    <message>
        <source>Исключений</source>
        <translation>Exceptions</translation>
    </message>
    <message>
        <source>Время ответа, мс: мин. / медиана / макс.</source>
        <translation>Response time, ms: min / median / max</translation>
    </message>
</context>
</TS>
