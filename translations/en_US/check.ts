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
<context>
    <name>Protocol</name>
    <message>
        <source>%1 с</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>не задан</source>
        <translation>not set</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1, %2</translation>
    </message>
    <message>
        <source>убывающий</source>
        <translation>decreasing</translation>
    </message>
    <message>
        <source>возрастающий</source>
        <translation>increasing</translation>
    </message>
    <message>
        <source>в допуске</source>
        <translation>within tolerance</translation>
    </message>
    <message>
        <source>вне допуска</source>
        <translation>out of tolerance</translation>
    </message>
    <message>
        <source>сработал через %1</source>
        <translation>tripped after %1</translation>
    </message>
    <message>
        <source>не сработал</source>
        <translation>did not trip</translation>
    </message>
    <message>
        <source>не сработал (газ не достигает порога)</source>
        <translation>did not trip (the gas does not reach it)</translation>
    </message>
    <message>
        <source>сброс через %1 после снятия газа</source>
        <translation>reset %1 after the gas was removed</translation>
    </message>
    <message>
        <source>не вернулся после снятия газа</source>
        <translation>not reset after the gas was removed</translation>
    </message>
    <message>
        <source>Результаты калибровки</source>
        <translation>Calibration results</translation>
    </message>
    <message>
        <source>Точка</source>
        <translation>Point</translation>
    </message>
    <message>
        <source>Газ</source>
        <translation>Gas</translation>
    </message>
    <message>
        <source>До регулировки</source>
        <translation>As found</translation>
    </message>
    <message>
        <source>После регулировки</source>
        <translation>As left</translation>
    </message>
    <message>
        <source>Допуск</source>
        <translation>Tolerance</translation>
    </message>
    <message>
        <source>Оценка после</source>
        <translation>Verdict as left</translation>
    </message>
    <message>
        <source>Ноль</source>
        <translation>Zero</translation>
    </message>
    <message>
        <source>Диапазон</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>Регулировка</source>
        <translation>Adjustment</translation>
    </message>
    <message>
        <source>Параметры калибровки не менялись.</source>
        <translation>The calibration parameters were not changed.</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>До</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>После</source>
        <translation>After</translation>
    </message>
    <message>
        <source>Результаты проверки (без регулировки)</source>
        <translation>Check results (no adjustment)</translation>
    </message>
    <message>
        <source>Показания до подачи газа</source>
        <translation>Reading before the gas</translation>
    </message>
    <message>
        <source>Пиковые показания</source>
        <translation>Peak reading</translation>
    </message>
    <message>
        <source>%1 через %2</source>
        <translation>%1 after %2</translation>
    </message>
    <message>
        <source> (установились через %1)</source>
        <translation> (settled after %1)</translation>
    </message>
    <message>
        <source>(не установились)</source>
        <translation>(did not settle)</translation>
    </message>
    <message>
        <source>Установившиеся показания</source>
        <translation>Settled reading</translation>
    </message>
    <message>
        <source>Время установления 90 % (t90)</source>
        <translation>Time to 90 % (t90)</translation>
    </message>
    <message>
        <source>±%1 от %2</source>
        <translation>±%1 of %2</translation>
    </message>
    <message>
        <source>Протокол калибровки</source>
        <translation>Calibration report</translation>
    </message>
    <message>
        <source>Протокол проверки работоспособности</source>
        <translation>Function check report</translation>
    </message>
    <message>
        <source>от %1</source>
        <translation>dated %1</translation>
    </message>
    <message>
        <source>Организация</source>
        <translation>Organisation</translation>
    </message>
    <message>
        <source>Выполнил</source>
        <translation>Performed by</translation>
    </message>
    <message>
        <source>Прибор</source>
        <translation>Detector</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>TL-02, тип %1</source>
        <translation>TL-02, type %1</translation>
    </message>
    <message>
        <source>тип %1</source>
        <translation>type %1</translation>
    </message>
    <message>
        <source>Серийный номер</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>Адрес MODBUS</source>
        <translation>MODBUS address</translation>
    </message>
    <message>
        <source>Метка</source>
        <translation>Tag</translation>
    </message>
    <message>
        <source>%1 … %2</source>
        <translation>%1 … %2</translation>
    </message>
    <message>
        <source>Поверочная газовая смесь</source>
        <translation>Test gas</translation>
    </message>
    <message>
        <source>%1, %2 %3</source>
        <translation>%1, %2 %3</translation>
    </message>
    <message>
        <source>Баллон №</source>
        <translation>Cylinder No.</translation>
    </message>
    <message>
        <source>не указан</source>
        <translation>not given</translation>
    </message>
    <message>
        <source>Срок годности баллона истёк.</source>
        <translation>The cylinder has expired.</translation>
    </message>
    <message>
        <source>Использование подтверждено исполнителем.</source>
        <translation>Its use was confirmed by the technician.</translation>
    </message>
    <message>
        <source>Использование не подтверждено.</source>
        <translation>Its use was not confirmed.</translation>
    </message>
    <message>
        <source>Годен до</source>
        <translation>Use by</translation>
    </message>
    <message>
        <source>Калибровка выполнена, прибор в допуске</source>
        <translation>Calibrated, the detector is within tolerance</translation>
    </message>
    <message>
        <source>Прибор работоспособен</source>
        <translation>The detector works correctly</translation>
    </message>
    <message>
        <source>Калибровка не пройдена</source>
        <translation>Calibration failed</translation>
    </message>
    <message>
        <source>Прибор не прошёл проверку</source>
        <translation>The detector failed the check</translation>
    </message>
    <message>
        <source>Заключение</source>
        <translation>Conclusion</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Следующая калибровка</source>
        <translation>Next calibration</translation>
    </message>
    <message>
        <source>Следующая проверка</source>
        <translation>Next check</translation>
    </message>
    <message>
        <source>хеш будет присвоен сервером</source>
        <translation>hash will be assigned by the server</translation>
    </message>
    <message>
        <source>хеш %1</source>
        <translation>hash %1</translation>
    </message>
    <message>
        <source>Записи журнала</source>
        <translation>Journal records</translation>
    </message>
    <message>
        <source>Проверил</source>
        <translation>Checked by</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
</context>
<context>
    <name>GuidedSession</name>
    <message>
        <source>Исполнитель...</source>
        <translation>Technician...</translation>
    </message>
    <message>
        <source>Начать</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Газ подан</source>
        <translation>Gas applied</translation>
    </message>
    <message>
        <source>Пропустить</source>
        <translation>Skip</translation>
    </message>
    <message>
        <source>Прервать</source>
        <translation>Abort</translation>
    </message>
    <message>
        <source>Протокол...</source>
        <translation>Protocol...</translation>
    </message>
    <message>
        <source>Исполнитель не указан</source>
        <translation>No technician given</translation>
    </message>
    <message>
        <source>Исполнитель: %1</source>
        <translation>Technician: %1</translation>
    </message>
    <message>
        <source>Исполнитель: %1, %2</source>
        <translation>Technician: %1, %2</translation>
    </message>
    <message>
        <source>Поверочный газ будет запрошен при начале</source>
        <translation>The test gas is asked for at the start</translation>
    </message>
    <message>
        <source>Газ: %1, %2 %3</source>
        <translation>Gas: %1, %2 %3</translation>
    </message>
    <message>
        <source>, баллон № %1</source>
        <translation>, cylinder no. %1</translation>
    </message>
    <message>
        <source>, годен до %1</source>
        <translation>, expires %1</translation>
    </message>
    <message>
        <source>Поверочный газ</source>
        <translation>Test gas</translation>
    </message>
    <message>
        <source>Срок годности баллона %1 истёк %2. Использовать его всё равно? Протокол отметит это.</source>
        <translation>Cylinder %1 expired on %2. Use it all the same? The protocol will say so.</translation>
    </message>
    <message>
        <source>Прервано. Записанное в журнал остаётся в нём.</source>
        <translation>Aborted. What was recorded stays in the journal.</translation>
    </message>
    <message>
        <source>Показания установились</source>
        <translation>Reading settled</translation>
    </message>
    <message>
        <source>Калибровка не выполнена. Повторите или пропустите шаг.</source>
        <translation>Calibration not done. Repeat or skip the step.</translation>
    </message>
    <message>
        <source>Калибровка выполнена</source>
        <translation>Calibration done</translation>
    </message>
    <message>
        <source>Калибровка выполнена, прибор в допуске. Следующая калибровка: %1</source>
        <translation>Calibration done, the detector is within tolerance. Next calibration: %1</translation>
    </message>
    <message>
        <source>Калибровка не пройдена: %1</source>
        <translation>Calibration failed: %1</translation>
    </message>
    <message>
        <source>Прибор работоспособен. Следующая проверка: %1</source>
        <translation>The detector works. Next check: %1</translation>
    </message>
    <message>
        <source>Прибор не прошёл проверку: %1</source>
        <translation>The detector failed the check: %1</translation>
    </message>
    <message>
        <source>Ноль до регулировки</source>
        <translation>Zero as found</translation>
    </message>
    <message>
        <source>Диапазон до регулировки</source>
        <translation>Span as found</translation>
    </message>
    <message>
        <source>Калибровка нуля</source>
        <translation>Zero calibration</translation>
    </message>
    <message>
        <source>Ноль после регулировки</source>
        <translation>Zero as left</translation>
    </message>
    <message>
        <source>Калибровка диапазона</source>
        <translation>Span calibration</translation>
    </message>
    <message>
        <source>Диапазон после регулировки</source>
        <translation>Span as left</translation>
    </message>
    <message>
        <source>Проверка работоспособности</source>
        <translation>Function check</translation>
    </message>
    <message>
        <source>Показания: %1</source>
        <translation>Reading: %1</translation>
    </message>
    <message>
        <source>Калибровка по шагам: показания до регулировки, регулировка нуля и диапазона, показания после.</source>
        <translation>Guided calibration: readings as found, zero and span adjustment, readings as left.</translation>
    </message>
    <message>
        <source>Проверка газом без регулировки: ничего не записывается в прибор.</source>
        <translation>A check with gas and no adjustment: nothing is written to the detector.</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>Подайте поверочный газ (%1) и нажмите «Газ подан».</source>
        <translation>Apply the test gas (%1) and press "Gas applied".</translation>
    </message>
    <message>
        <source>Газ подан. Ждите установления показаний.</source>
        <translation>Gas applied. Wait for the reading to settle.</translation>
    </message>
    <message>
        <source>Газ снят</source>
        <translation>Gas removed</translation>
    </message>
    <message>
        <source>до установления: %1 с</source>
        <translation>settling: %1 s</translation>
    </message>
    <message>
        <source>Показания установились. Снимите газ и нажмите «Газ снят».</source>
        <translation>The reading has settled. Remove the gas and press "Gas removed".</translation>
    </message>
    <message>
        <source>установились</source>
        <translation>settled</translation>
    </message>
    <message>
        <source>Газ снят. Ждите возврата показаний за пороги.</source>
        <translation>Gas removed. Wait for the reading to fall back past the thresholds.</translation>
    </message>
    <message>
        <source>Шаг %1 из 6: %2</source>
        <translation>Step %1 of 6: %2</translation>
    </message>
    <message>
        <source>Подайте нулевой газ и нажмите «Газ подан».</source>
        <translation>Apply the zero gas and press "Gas applied".</translation>
    </message>
    <message>
        <source>показания стабильны</source>
        <translation>reading stable</translation>
    </message>
    <message>
        <source>до стабильности: %1 с</source>
        <translation>stable in: %1 s</translation>
    </message>
    <message>
        <source>Показания стабильны: можно калибровать.</source>
        <translation>The reading is stable: calibrate now.</translation>
    </message>
    <message>
        <source>Ждите стабильных показаний.</source>
        <translation>Wait for a stable reading.</translation>
    </message>
    <message>
        <source>Калибровать ноль</source>
        <translation>Calibrate zero</translation>
    </message>
    <message>
        <source>Калибровать диапазон</source>
        <translation>Calibrate span</translation>
    </message>
    <message>
        <source>Показания будут сняты, когда станут стабильными.</source>
        <translation>The reading is taken once it is stable.</translation>
    </message>
    <message>
        <source>Принять показания</source>
        <translation>Take the reading</translation>
    </message>
    <message>
        <source>Нет завершённого сеанса</source>
        <translation>No session has ended</translation>
    </message>
    <message>
        <source>PDF (*.pdf)</source>
        <translation>PDF (*.pdf)</translation>
    </message>
    <message>
        <source>Протокол не записан: %1</source>
        <translation>The protocol was not written: %1</translation>
    </message>
</context>
<context>
    <name>SessionSetup</name>
    <message>
        <source>Исполнитель и поверочный газ</source>
        <translation>Technician and test gas</translation>
    </message>
    <message>
        <source>Исполнитель (Ф. И. О.):</source>
        <translation>Technician (full name):</translation>
    </message>
    <message>
        <source>Организация:</source>
        <translation>Organisation:</translation>
    </message>
    <message>
        <source>Газ:</source>
        <translation>Gas:</translation>
    </message>
    <message>
        <source>Концентрация:</source>
        <translation>Concentration:</translation>
    </message>
    <message>
        <source>Баллон №:</source>
        <translation>Cylinder no.:</translation>
    </message>
    <message>
        <source>Годен до:</source>
        <translation>Expires:</translation>
    </message>
    <message>
        <source>указан</source>
        <translation>known</translation>
    </message>
    <message>
        <source>Допуск, % от газа:</source>
        <translation>Tolerance, % of the gas:</translation>
    </message>
    <message>
        <source>Допуск, % от диапазона:</source>
        <translation>Tolerance, % of the range:</translation>
    </message>
    <message>
        <source>Укажите исполнителя: его имя будет в протоколе.</source>
        <translation>Give the technician: the name goes into the protocol.</translation>
    </message>
    <message>
        <source>Укажите поверочный газ.</source>
        <translation>Give the test gas.</translation>
    </message>
    <message>
        <source>Укажите концентрацию поверочного газа.</source>
        <translation>Give the test gas's concentration.</translation>
    </message>
</context>
</TS>
