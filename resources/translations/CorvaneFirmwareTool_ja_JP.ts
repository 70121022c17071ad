<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>MainWindow</name>
    <message>
        <source>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</source>
        <translation>別のプログラムが Corvane X9 を使用中です。そのプログラムが解放すると、このツールが自動的に接続します。</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>設定が失われました。初期設定に戻してください。</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>クラウドサーバーに接続できません。ローカルに保存済みのファームウェアのみを使用します。</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>ファイルが破損しているか、別のアダプターのバックアップです。</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>現在のファームウェア</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>フラッシュメモリの消去に失敗しました。</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.rfw)</source>
        <translation>ファームウェアファイル (*.bin *.rfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>ファームウェアの更新が必要です</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>ファームウェアファイルが正しくありません。</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>ファームウェアをダウンロードしています…</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>ファームウェアが失われました。ファームウェアを更新してください。</translation>
    </message>
    <message>
        <source>Firmware write failed! Reconnect the adapter and try again.</source>
        <translation>ファームウェアの書き込みに失敗しました。アダプターを接続し直して、もう一度お試しください。</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>ハードウェアに障害が発生しました。</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>新しいファームウェア</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>ファームウェアファイルを開く</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool</source>
        <translation>Corvane ファームウェアツール</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>初期設定に戻す</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>初期設定に戻しました。</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>Saving the adapter's configuration...</source>
        <translation>アダプターの設定を保存しています…</translation>
    </message>
    <message>
        <source>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</source>
        <translation>書き込み後のバージョンの読み取りにアダプターが応答しませんでした。接続し直して、実行中のバージョンを確認してください。</translation>
    </message>
    <message>
        <source>The adapter's configuration could not be saved. Nothing was changed.</source>
        <translation>アダプターの設定を保存できませんでした。何も変更されていません。</translation>
    </message>
    <message>
        <source>The firmware is being written. The window closes by itself when it is done.</source>
        <translation>ファームウェアを書き込んでいます。完了するとウィンドウは自動的に閉じます。</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>ダウンロードしたファームウェアのチェックサムが一致しません。</translation>
    </message>
    <message>
        <source>The history cannot be written. Nothing was changed.</source>
        <translation>操作履歴を書き込めません。何も変更されていません。</translation>
    </message>
    <message>
        <source>The information of server error, contact Corvane for help.</source>
        <translation>サーバーの情報が正しくありません。Corvane にお問い合わせください。</translation>
    </message>
    <message>
        <source>The last write did not finish: run the update again.</source>
        <translation>前回の書き込みは完了していません。もう一度更新してください。</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>ネットワークエラーです。接続を確認して、もう一度お試しください。</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>ファームウェアを更新</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>更新が完了しました。</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>変更履歴</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>When you first install Corvane Firmware Tool must connect network, and restart Corvane Firmware Tool.</source>
        <translation>Corvane ファームウェアツールの初回起動時はネットワーク接続が必要です。接続してからツールを再起動してください。</translation>
    </message>
    <message>
        <source>connect Corvane X9 to PC.</source>
        <translation>ボタンを押したまま Corvane X9 を PC に接続し、
ランプが緑色に点灯したらボタンを離してください</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>クラウドサーバーに接続しています…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>データの復元</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>データのバックアップ</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>正常に完了しました。</translation>
    </message>
    <message>
        <source>%1...</source>
        <translation>%1…</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>オンライン</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>オフライン</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>言語</translation>
    </message>
    <message>
        <source>%1 (newest)</source>
        <translation>%1（最新）</translation>
    </message>
    <message>
        <source>%1 (installed)</source>
        <translation>%1（導入済み）</translation>
    </message>
    <message>
        <source>%1 (newest, installed)</source>
        <translation>%1（最新・導入済み）</translation>
    </message>
    <message>
        <source>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</source>
        <translation>アダプターのファームウェア %1 は %2 より新しいです。古いファームウェアを書き込みますか？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>シリアル番号：%1</translation>
    </message>
    <message>
        <source>The latest version update!</source>
        <translation>新しいバージョンがあります。</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>アップデート</translation>
    </message>
    <message>
        <source>backup Files (*.bkp)</source>
        <translation>バックアップファイル (*.bkp)</translation>
    </message>
    <message>
        <source>Firmware Update Required( &gt;= %1) !</source>
        <translation>ファームウェアを %1 以降に更新する必要があります。</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Notification</source>
        <translation>お知らせ</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>初期設定に戻す</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>ファームウェアを更新</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>ダイアログ</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Message</source>
        <translation>メッセージ</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool is already running!</source>
        <translation>Corvane ファームウェアツールはすでに起動しています。</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>起動モード（コントローラー未接続時）：</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>データのバックアップ</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>データの復元</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>未定義</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>ダイアログ</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
</context>
</TS>
