<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>MainWindow</name>
    <message>
        <source>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</source>
        <translation>Corvane X9 занят другой программой. Программа подключится к нему сама, как только та его освободит.</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Конфигурация не найдена! Сбросьте настройки!</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>Не удалось подключиться к облачному серверу. Будут использоваться только ранее скачанные прошивки.</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Файл повреждён или не предназначен для этого адаптера!</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Текущая версия прошивки</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>Ошибка стирания флеш-памяти!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.rfw)</source>
        <translation>Файлы прошивки (*.bin *.rfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Требуется обновление прошивки</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Ошибка файла прошивки!</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Скачивание прошивки…</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Прошивка не найдена! Обновите прошивку!</translation>
    </message>
    <message>
        <source>Firmware write failed! Reconnect the adapter and try again.</source>
        <translation>Не удалось записать прошивку! Переподключите адаптер и повторите попытку.</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Аппаратный сбой!</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>Новая прошивка</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>Открыть файл прошивки</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool</source>
        <translation>Corvane Firmware Tool</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Сбросить настройки</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Настройки успешно сброшены!</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>Saving the adapter's configuration...</source>
        <translation>Сохранение конфигурации адаптера…</translation>
    </message>
    <message>
        <source>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</source>
        <translation>Адаптер не ответил на чтение версии после записи. Переподключите его, чтобы увидеть версию его прошивки.</translation>
    </message>
    <message>
        <source>The adapter's configuration could not be saved. Nothing was changed.</source>
        <translation>Не удалось сохранить конфигурацию адаптера. Ничего не изменено.</translation>
    </message>
    <message>
        <source>The firmware is being written. The window closes by itself when it is done.</source>
        <translation>Идёт запись прошивки. Окно закроется само, когда она завершится.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Ошибка контрольной суммы скачанной прошивки!</translation>
    </message>
    <message>
        <source>The history cannot be written. Nothing was changed.</source>
        <translation>Не удаётся записать журнал операций. Ничего не изменено.</translation>
    </message>
    <message>
        <source>The information of server error, contact Corvane for help.</source>
        <translation>Сервер вернул неверные данные. Обратитесь в поддержку Corvane.</translation>
    </message>
    <message>
        <source>The last write did not finish: run the update again.</source>
        <translation>Последняя запись не завершилась: запустите обновление ещё раз.</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>Ошибка сети. Проверьте подключение и повторите попытку.</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Обновить прошивку</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Прошивка успешно обновлена!</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>История изменений</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>When you first install Corvane Firmware Tool must connect network, and restart Corvane Firmware Tool.</source>
        <translation>При первом запуске Corvane Firmware Tool нужно подключение к сети. Подключитесь к сети и перезапустите программу.</translation>
    </message>
    <message>
        <source>connect Corvane X9 to PC.</source>
        <translation>Подключите Corvane X9 к компьютеру, удерживая кнопку.
Отпустите кнопку, когда индикатор будет гореть зелёным, не мигая.</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>Подключение к облачному серверу…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Восстановление данных</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Резервное копирование</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>Готово!</translation>
    </message>
    <message>
        <source>%1...</source>
        <translation>%1…</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>В сети</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Не в сети</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>%1 (newest)</source>
        <translation>%1 (новейшая)</translation>
    </message>
    <message>
        <source>%1 (installed)</source>
        <translation>%1 (установлена)</translation>
    </message>
    <message>
        <source>%1 (newest, installed)</source>
        <translation>%1 (новейшая, установлена)</translation>
    </message>
    <message>
        <source>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</source>
        <translation>На адаптере прошивка %1, она новее %2. Записать более старую прошивку?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Ход выполнения</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>Серийный номер: %1</translation>
    </message>
    <message>
        <source>The latest version update!</source>
        <translation>Доступна новая версия программы!</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Обновление</translation>
    </message>
    <message>
        <source>backup Files (*.bkp)</source>
        <translation>Файлы резервных копий (*.bkp)</translation>
    </message>
    <message>
        <source>Firmware Update Required( &gt;= %1) !</source>
        <translation>Требуется обновить прошивку до версии %1 или новее!</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Notification</source>
        <translation>Уведомление</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Сбросить настройки</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Обновить прошивку</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Диалог</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Message</source>
        <translation>Сообщение</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool is already running!</source>
        <translation>Программа Corvane Firmware Tool уже запущена!</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Режим запуска (без контроллера):</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Создать резервную копию</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Восстановить из копии</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>Не задан</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Диалог</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Авто</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
</context>
</TS>
