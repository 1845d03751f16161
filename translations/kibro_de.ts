<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="ja">
<context>
    <name>kibro::MainWindow</name>
    <message>
        <source>終了(&amp;X)</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Einstellungen</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> lässt sich nicht öffnen.</translation>
    </message>
</context>
<context>
    <name>kibro::SendWindow</name>
    <message>
        <source>ファイルが大きすぎます。</source>
        <translation>Die Datei ist zu groß.</translation>
    </message>
    <message>
        <source>ファイルを読み込めません。</source>
        <translation>Die Datei kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ABBRUCH</translation>
    </message>
    <message>
        <source>%1の送信</source>
        <extracomment>caption of the send window, before and while sending; %1 is the file&apos;s name</extracomment>
        <translation>%1 senden</translation>
    </message>
    <message>
        <source>FileName:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>DateTime:</source>
        <translation>Datum:</translation>
    </message>
    <message>
        <source>File Error</source>
        <translation>Dateifehler</translation>
    </message>
    <message>
        <source>ファイル転送を中止します。</source>
        <translation>Die Dateiübertragung wird abgebrochen.</translation>
    </message>
    <message>
        <source>ファイル転送に失敗しました。</source>
        <translation>Die Dateiübertragung ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Transfer Error</source>
        <translation>Übertragungsfehler</translation>
    </message>
    <message numerus="yes">
        <source>FileSize:%n Byte</source>
        <translation>
            <numerusform>Größe:%n Byte</numerusform>
            <numerusform>Größe:%n Byte</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>kibro::SettingsWindow</name>
    <message>
        <source>デバイス: なし</source>
        <translation>Gerät: keins</translation>
    </message>
    <message>
        <source>デバイス: %1</source>
        <translation>Gerät: %1</translation>
    </message>
    <message>
        <source>接続: あり</source>
        <translation>Angeschlossen: ja</translation>
    </message>
    <message>
        <source>接続: なし</source>
        <translation>Angeschlossen: nein</translation>
    </message>
    <message>
        <source>説明: %1</source>
        <translation>Beschreibung: %1</translation>
    </message>
    <message>
        <source>メーカー: %1</source>
        <translation>Hersteller: %1</translation>
    </message>
    <message>
        <source>シリアル番号: %1</source>
        <translation>Seriennummer: %1</translation>
    </message>
    <message>
        <source>COM Open Error</source>
        <translation>COM-Fehler</translation>
    </message>
    <message>
        <source>通信設定</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Baudrate</translation>
    </message>
    <message>
        <source>COMポート</source>
        <translation>COM-Port</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ABBRUCH</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> lässt sich nicht öffnen.</translation>
    </message>
    <message>
        <source>が開けませんでした。</source>
        <translation> konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>アクセス権: なし（このユーザーは開けません）</source>
        <translation>Zugriff: keiner (dieser Benutzer darf es nicht öffnen)</translation>
    </message>
</context>
</TS>
