<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</source>
        <translation>另一个程序正在使用 Corvane X9。该程序释放它后，本工具会自动连接。</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>配置丢失！请恢复出厂设置！</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>无法连接云服务器，将仅使用本地缓存的固件。</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>文件已损坏，或这是另一台适配器的备份！</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>当前固件版本</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>擦除闪存失败！</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.rfw)</source>
        <translation>固件文件 (*.bin *.rfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>需要先更新固件</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>固件文件错误！</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>正在下载固件…</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>固件丢失！请更新固件！</translation>
    </message>
    <message>
        <source>Firmware write failed! Reconnect the adapter and try again.</source>
        <translation>固件写入失败！请重新连接适配器后重试。</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>硬件故障！</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>新固件版本</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>打开固件文件</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool</source>
        <translation>Corvane 固件工具</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>已恢复出厂设置！</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>Saving the adapter's configuration...</source>
        <translation>正在保存适配器的配置…</translation>
    </message>
    <message>
        <source>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</source>
        <translation>写入后读取版本时适配器没有响应。请重新连接适配器以查看其运行的版本。</translation>
    </message>
    <message>
        <source>The adapter's configuration could not be saved. Nothing was changed.</source>
        <translation>无法保存适配器的配置。未做任何更改。</translation>
    </message>
    <message>
        <source>The firmware is being written. The window closes by itself when it is done.</source>
        <translation>正在写入固件。完成后窗口将自动关闭。</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>下载的固件校验失败！</translation>
    </message>
    <message>
        <source>The history cannot be written. Nothing was changed.</source>
        <translation>无法写入操作历史。未做任何更改。</translation>
    </message>
    <message>
        <source>The information of server error, contact Corvane for help.</source>
        <translation>服务器信息有误，请联系 Corvane 获取帮助。</translation>
    </message>
    <message>
        <source>The last write did not finish: run the update again.</source>
        <translation>上次写入未完成：请再次运行更新。</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>网络错误，请检查网络连接后重试。</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>更新固件</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>更新成功！</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>版本更新日志</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>When you first install Corvane Firmware Tool must connect network, and restart Corvane Firmware Tool.</source>
        <translation>首次使用 Corvane 固件工具时必须连接网络。请连接网络后重新启动本工具。</translation>
    </message>
    <message>
        <source>connect Corvane X9 to PC.</source>
        <translation>按住按键，将 Corvane X9 连接到电脑
待指示灯保持绿色常亮后松开按键</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>正在连接云服务器…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>恢复数据</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>备份数据</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>操作成功！</translation>
    </message>
    <message>
        <source>%1...</source>
        <translation>%1…</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>在线</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>离线</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>%1 (newest)</source>
        <translation>%1（最新）</translation>
    </message>
    <message>
        <source>%1 (installed)</source>
        <translation>%1（已安装）</translation>
    </message>
    <message>
        <source>%1 (newest, installed)</source>
        <translation>%1（最新，已安装）</translation>
    </message>
    <message>
        <source>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</source>
        <translation>适配器运行的固件 %1 比 %2 更新。确定要写入较旧的固件吗？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>序列号：%1</translation>
    </message>
    <message>
        <source>The latest version update!</source>
        <translation>发现新版本！</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>backup Files (*.bkp)</source>
        <translation>备份文件 (*.bkp)</translation>
    </message>
    <message>
        <source>Firmware Update Required( &gt;= %1) !</source>
        <translation>需要先将固件更新到 %1 或更高版本！</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Notification</source>
        <translation>通知</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>更新固件</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Message</source>
        <translation>消息</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool is already running!</source>
        <translation>Corvane 固件工具已在运行！</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>启动模式（无手柄时）：</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>备份数据</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>恢复数据</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>未定义</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
</TS>
