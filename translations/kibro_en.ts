<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>kibro::MainWindow</name>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> cannot be opened.</translation>
    </message>
    <message>
        <source>受信(&amp;R)</source>
        <translation>&amp;Receive</translation>
    </message>
</context>
<context>
    <name>kibro::ReceiveWindow</name>
    <message>
        <source>ファイルの受信</source>
        <translation>Receive a File</translation>
    </message>
    <message>
        <source>ファイル名:</source>
        <translation>File name:</translation>
    </message>
    <message>
        <source>上書きする</source>
        <translation>Overwrite</translation>
    </message>
    <message>
        <source>無音で終了:</source>
        <translation>End after silence:</translation>
    </message>
    <message>
        <source> 秒</source>
        <extracomment>after the number of seconds of silence that end a receive</extracomment>
        <translation> s</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>ポート: COM%1  %2 bit/s</source>
        <translation>Port: COM%1  %2 bit/s</translation>
    </message>
    <message>
        <source>送信中は受信できません。</source>
        <translation>Cannot receive while sending.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Port Busy</translation>
    </message>
    <message>
        <source>ファイル名が正しくありません。</source>
        <translation>The file name is not valid.</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあります。</source>
        <translation>A file with this name already exists.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>File Exists</translation>
    </message>
    <message>
        <source>ポケットコンピュータからの送信を待っています…</source>
        <translation>Waiting for the pocket computer to send…</translation>
    </message>
    <message numerus="yes">
        <source>受信 %n バイト  経過 %1</source>
        <translation>
            <numerusform>Received %n byte  Elapsed %1</numerusform>
            <numerusform>Received %n bytes  Elapsed %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトを %1 に保存しました。</source>
        <translation>
            <numerusform>Received %n byte into %1.</numerusform>
            <numerusform>Received %n bytes into %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトで停止しました。ファイルは保存しました。</source>
        <translation>
            <numerusform>Stopped after %n byte. The file is kept.</numerusform>
            <numerusform>Stopped after %n bytes. The file is kept.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信せずに停止しました。ファイルは作っていません。</source>
        <translation>Stopped with nothing received. No file was made.</translation>
    </message>
    <message numerus="yes">
        <source>%n バイト受信後に回線が切れました。ファイルは保存しました。</source>
        <translation>
            <numerusform>The line was lost after %n byte. The file is kept.</numerusform>
            <numerusform>The line was lost after %n bytes. The file is kept.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信しないうちに回線が切れました。ファイルは作っていません。</source>
        <translation>The line was lost before anything came. No file was made.</translation>
    </message>
    <message>
        <source>ポートを使用できません。</source>
        <translation>The port cannot be used.</translation>
    </message>
    <message>
        <source>受信中に同じ名前のファイルができたため、保存できませんでした。</source>
        <translation>A file with this name appeared meanwhile; nothing was saved.</translation>
    </message>
    <message>
        <source>ファイルに書き込めません。</source>
        <translation>Cannot write the file.</translation>
    </message>
</context>
<context>
    <name>kibro::SendWindow</name>
    <message>
        <source>ファイルが大きすぎます。</source>
        <translation>The file is too large.</translation>
    </message>
    <message>
        <source>ファイルを読み込めません。</source>
        <translation>The file cannot be read.</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>CANCEL</translation>
    </message>
    <message>
        <source>%1の送信</source>
        <extracomment>caption of the send window, before and while sending; %1 is the file&apos;s name</extracomment>
        <translation>Send %1</translation>
    </message>
    <message>
        <source>FileName:</source>
        <translation>File name: </translation>
    </message>
    <message>
        <source>DateTime:</source>
        <translation>Date: </translation>
    </message>
    <message>
        <source>File Error</source>
        <translation>File Error</translation>
    </message>
    <message>
        <source>ファイル転送を中止します。</source>
        <translation>The file transfer is cancelled.</translation>
    </message>
    <message>
        <source>ファイル転送に失敗しました。</source>
        <translation>The file transfer failed.</translation>
    </message>
    <message>
        <source>Transfer Error</source>
        <translation>Transfer Error</translation>
    </message>
    <message numerus="yes">
        <source>FileSize:%n Byte</source>
        <translation>
            <numerusform>File size: %n byte</numerusform>
            <numerusform>File size: %n bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>受信中は送信できません。</source>
        <translation>Cannot send while receiving.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Port Busy</translation>
    </message>
</context>
<context>
    <name>kibro::SettingsWindow</name>
    <message>
        <source>デバイス: なし</source>
        <translation>Device: none</translation>
    </message>
    <message>
        <source>デバイス: %1</source>
        <translation>Device: %1</translation>
    </message>
    <message>
        <source>接続: あり</source>
        <translation>Connected: yes</translation>
    </message>
    <message>
        <source>接続: なし</source>
        <translation>Connected: no</translation>
    </message>
    <message>
        <source>説明: %1</source>
        <translation>Description: %1</translation>
    </message>
    <message>
        <source>メーカー: %1</source>
        <translation>Manufacturer: %1</translation>
    </message>
    <message>
        <source>シリアル番号: %1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>COM Open Error</source>
        <translation>COM Open Error</translation>
    </message>
    <message>
        <source>通信設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>COMポート</source>
        <translation>COM port</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>CANCEL</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> cannot be opened.</translation>
    </message>
    <message>
        <source>が開けませんでした。</source>
        <translation> could not be opened.</translation>
    </message>
    <message>
        <source>アクセス権: なし（このユーザーは開けません）</source>
        <translation>Access: denied (this user may not open it)</translation>
    </message>
</context>
</TS>
