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
