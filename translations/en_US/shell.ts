<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AuthorizationWindow</name>
    <message>
        <source>Авторизация</source>
        <translation>Authorization</translation>
    </message>
    <message>
        <source>Логин:</source>
        <translation>Login:</translation>
    </message>
    <message>
        <source>Пароль:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Авторизоваться</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>Чтение заводских параметров</source>
        <translation>Reading factory parameters</translation>
    </message>
    <message>
        <source>Введите пароль:</source>
        <translation>Enter password:</translation>
    </message>
    <message>
        <source>Вы успешно авторизовались</source>
        <translation>You have logged in successfully</translation>
    </message>
    <message>
        <source>Вы не успешно авторизовались</source>
        <translation>Login failed</translation>
    </message>
    <message>
        <source>Нет прав доступа</source>
        <translation>Access denied</translation>
    </message>
    <message>
        <source>Введите пароль</source>
        <translation>Enter the password</translation>
    </message>
</context>
<context>
    <name>Connect_com_port</name>
    <message>
        <source>Подключение устройства</source>
        <translation>Device connection</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Подключение</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>Не открывает COM port</source>
        <translation>Cannot open the COM port</translation>
    </message>
    <message>
        <source>Ошибка обмена данными с прибором</source>
        <translation>Data exchange with the device failed</translation>
    </message>
    <message>
        <source>Прибор не опознан</source>
        <translation>Device not recognised</translation>
    </message>
    <message>
        <source>Порт %1 не найден. Проверьте кабель и имя порта.</source>
        <translation>Port %1 does not exist. Check the cable and the port name.</translation>
    </message>
    <message>
        <source>Нет прав на порт %1: он принадлежит группе %2, а пользователь %3 в неё не входит. Добавьте пользователя в группу командой

sudo usermod -aG %2 %3

и войдите в систему заново.</source>
        <translation>No permission to use port %1: it belongs to group %2, and user %3 is not a member. Add the user to the group with

sudo usermod -aG %2 %3

then log out and log in again.</translation>
    </message>
    <message>
        <source>владелец %1, группа %2, права %3</source>
        <translation>owner %1, group %2, mode %3</translation>
    </message>
    <message>
        <source>Нет прав на порт %1 (%2) у пользователя %3, хотя права файла это разрешают: доступ запрещают списки доступа или политика безопасности. Обратитесь к администратору.</source>
        <translation>User %3 may not use port %1 (%2), although its mode allows it: an access control list or a security policy refuses it. Ask the administrator.</translation>
    </message>
    <message>
        <source>Нет прав на порт %1: открыть его может только %2 (%3). Попросите администратора отдать порт группе, например dialout, с правами 0660 (правило udev) или выберите другой порт.</source>
        <translation>No permission to use port %1: only %2 may open it (%3). Ask the administrator to give the port to a group such as dialout with mode 0660 (a udev rule), or choose another port.</translation>
    </message>
    <message>
        <source> и </source>
        <translation> and </translation>
    </message>
    <message>
        <source>Порт %1 занят другой программой: %2 (процесс %3). Закройте её и повторите подключение.</source>
        <translation>Port %1 is in use by another program: %2 (process %3). Close it and connect again.</translation>
    </message>
    <message>
        <source>Порт %1 занят другой программой. Закройте её и повторите подключение.</source>
        <translation>Port %1 is in use by another program. Close it and connect again.</translation>
    </message>
    <message>
        <source>Порт %1 закрыт файлом блокировки %2, но процесс %3, который его оставил, уже завершён: файл устарел, и его можно удалить (sudo rm %2). Затем повторите подключение.</source>
        <translation>Port %1 is locked by the lock file %2, but process %3 that left it has ended: the file is stale and may be deleted (sudo rm %2). Then connect again.</translation>
    </message>
    <message>
        <source>Порт %1 закрыт пустым файлом блокировки %2, который не называет никакой процесс: файл устарел, и его можно удалить (sudo rm %2). Затем повторите подключение.</source>
        <translation>Port %1 is locked by the empty lock file %2, which names no process: the file is stale and may be deleted (sudo rm %2). Then connect again.</translation>
    </message>
</context>
<context>
    <name>ErrorBox</name>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Ошибка обмена данными</source>
        <translation>Data exchange error</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Ошибка открытия файла</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>Адресс MODBUS:</source>
        <translation>MODBUS address:</translation>
    </message>
    <message>
        <source>Чтение</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>Калибровка</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Конфигурация</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Обновление версии ПО
устройства</source>
        <translation>Update device
firmware</translation>
    </message>
    <message>
        <source>Чтение заводских
настроек</source>
        <translation>Read factory
settings</translation>
    </message>
    <message>
        <source>Сохранить параметры</source>
        <translation>Save parameters</translation>
    </message>
    <message>
        <source>Считать параметры</source>
        <translation>Read parameters</translation>
    </message>
    <message>
        <source>Авто</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Загрузить конфигурацию
в прибор</source>
        <translation>Load configuration
into device</translation>
    </message>
    <message>
        <source>Сохранить конфигурацию
на ПК</source>
        <translation>Save configuration
to PC</translation>
    </message>
    <message>
        <source>Перезагрузить прибор</source>
        <translation>Restart device</translation>
    </message>
    <message>
        <source>Сохранение заводских
настроек</source>
        <translation>Save factory
settings</translation>
    </message>
    <message>
        <source>Ручное выкл. звука:</source>
        <translation>Manual sound off:</translation>
    </message>
    <message>
        <source>Выкл.</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Язык приложения</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Русский</source>
        <translation>Russian</translation>
    </message>
    <message>
        <source>Английский</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Меню</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>Подключиться к устройству</source>
        <translation>Connect to device</translation>
    </message>
    <message>
        <source>Конфигурация по газу</source>
        <translation>Gas configuration</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Монитор обмена</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>График измерений</source>
        <translation>Measurement chart</translation>
    </message>
    <message>
        <source>Вкл.</source>
        <translation>On</translation>
    </message>
    <message>
        <source> v</source>
        <translation> v</translation>
    </message>
    <message>
        <source> , устройство TL-02</source>
        <translation> , device TL-02</translation>
    </message>
    <message>
        <source>Успешное подключение TL</source>
        <translation>TL connected</translation>
    </message>
    <message>
        <source> , устройство Bootloader</source>
        <translation> , device Bootloader</translation>
    </message>
    <message>
        <source>Успешное подключение Bootloader</source>
        <translation>Bootloader connected</translation>
    </message>
    <message>
        <source>Ошибка обмена данными</source>
        <translation>Data exchange error</translation>
    </message>
    <message>
        <source>Успешная передача данных</source>
        <translation>Data transferred</translation>
    </message>
    <message>
        <source>Идет передача данных...</source>
        <translation>Transferring data...</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Журнал калибровок</source>
        <translation>Calibration journal</translation>
    </message>
    <message>
        <source>Настройки журнала...</source>
        <translation>Journal settings...</translation>
    </message>
    <message>
        <source>Журнал</source>
        <translation>Journal</translation>
    </message>
    <message>
        <source>Ошибка записи файла %1: настройка действует до выхода из программы.</source>
        <translation>Error writing the file %1: the setting holds until the program is closed.</translation>
    </message>
    <message>
        <source>Запись в журнал калибровок не сделана.</source>
        <translation>The record was not written to the calibration journal.</translation>
    </message>
    <message>
        <source>Запись не попала в журнал калибровок.</source>
        <translation>The record did not get into the calibration journal.</translation>
    </message>
    <message>
        <source>Работа с прибором этим не затронута.</source>
        <translation>The work with the device is not affected by this.</translation>
    </message>
</context>
<context>
    <name>Reference</name>
    <message>
        <source>Версия программы:</source>
        <translation>Program version:</translation>
    </message>
    <message>
        <source>Название программы:</source>
        <translation>Program name:</translation>
    </message>
    <message>
        <source>Дата обновления:</source>
        <translation>Build date:</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>About</translation>
    </message>
</context>
</TS>
