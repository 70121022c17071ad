<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</source>
        <translation>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Configuration lost! Please restore defaults!</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Corrupted file/Unauthorized !</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Current Firmware Version</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>flash erase error!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.rfw)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Firmware Update Required</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Firmware file error!</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Download firmware</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Firmware lost! Please update firmware!</translation>
    </message>
    <message>
        <source>Firmware write failed! Reconnect the adapter and try again.</source>
        <translation>Firmware write failed! Reconnect the adapter and try again.</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Hardware failure!</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>New Firmware Version</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Corvane Firmware Tool</source>
        <translation>Corvane Firmware Tool</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Restored successfully!</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>Saving the adapter's configuration...</source>
        <translation>Saving the adapter's configuration...</translation>
    </message>
    <message>
        <source>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</source>
        <translation>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</translation>
    </message>
    <message>
        <source>The adapter's configuration could not be saved. Nothing was changed.</source>
        <translation>The adapter's configuration could not be saved. Nothing was changed.</translation>
    </message>
    <message>
        <source>The firmware is being written. The window closes by itself when it is done.</source>
        <translation>The firmware is being written. The window closes by itself when it is done.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Firmware file error!</translation>
    </message>
    <message>
        <source>The history cannot be written. Nothing was changed.</source>
        <translation>The history cannot be written. Nothing was changed.</translation>
    </message>
    <message>
        <source>The information of server error, contact Corvane for help.</source>
        <translation>wrong json file!</translation>
    </message>
    <message>
        <source>The last write did not finish: run the update again.</source>
        <translation>The last write did not finish: run the update again.</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Update Firmware</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Update successfully!</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>Version ChangeLog</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>When you first install Corvane Firmware Tool must connect network, and restart Corvane Firmware Tool.</source>
        <translation>fail to connect to cloud servers</translation>
    </message>
    <message>
        <source>connect Corvane X9 to PC.</source>
        <translation>Connect Corvane X9 to PC while holding the button
Release the button until the LED indicator is stable green</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>connecting to cloud servers</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Data Restore</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Data Backup</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>completed successfully!</translation>
    </message>
    <message>
        <source>%1...</source>
        <translation>%1...</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>%1 (newest)</source>
        <translation>%1 (newest)</translation>
    </message>
    <message>
        <source>%1 (installed)</source>
        <translation>%1 (installed)</translation>
    </message>
    <message>
        <source>%1 (newest, installed)</source>
        <translation>%1 (newest, installed)</translation>
    </message>
    <message>
        <source>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</source>
        <translation>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>The latest version update!</source>
        <translation>The latest version update!</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>backup Files (*.bkp)</source>
        <translation>backup Files (*.bkp)</translation>
    </message>
    <message>
        <source>Firmware Update Required( &gt;= %1) !</source>
        <translation>Firmware Update Required( &gt;= %1) !</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Notification</source>
        <translation>Notification</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Update Firmware</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool is already running!</source>
        <translation>Corvane Firmware Tool is running!</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Boot Mode(No Controller)</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Data Backup</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Data Restore</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>[TBD]</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
</TS>
