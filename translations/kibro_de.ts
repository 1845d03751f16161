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
    <message>
        <source>受信(&amp;R)</source>
        <translation>Emp&amp;fangen</translation>
    </message>
</context>
<context>
    <name>kibro::ReceiveWindow</name>
    <message>
        <source>ファイルの受信</source>
        <translation>Datei empfangen</translation>
    </message>
    <message>
        <source>ファイル名:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>上書きする</source>
        <translation>Überschreiben</translation>
    </message>
    <message>
        <source>無音で終了:</source>
        <translation>Ende nach Stille:</translation>
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
        <translation>STOPP</translation>
    </message>
    <message>
        <source>ポート: COM%1  %2 bit/s</source>
        <translation>Anschluss: COM%1  %2 bit/s</translation>
    </message>
    <message>
        <source>送信中は受信できません。</source>
        <translation>Während des Sendens kann nicht empfangen werden.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Anschluss belegt</translation>
    </message>
    <message>
        <source>ファイル名が正しくありません。</source>
        <translation>Der Dateiname ist ungültig.</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあります。</source>
        <translation>Eine Datei mit diesem Namen existiert bereits.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>Datei vorhanden</translation>
    </message>
    <message>
        <source>ポケットコンピュータからの送信を待っています…</source>
        <translation>Warten, bis der Taschencomputer sendet…</translation>
    </message>
    <message numerus="yes">
        <source>受信 %n バイト  経過 %1</source>
        <translation>
            <numerusform>Empfangen %n Byte  Dauer %1</numerusform>
            <numerusform>Empfangen %n Byte  Dauer %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトを %1 に保存しました。</source>
        <translation>
            <numerusform>%n Byte in %1 empfangen.</numerusform>
            <numerusform>%n Byte in %1 empfangen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトで停止しました。ファイルは保存しました。</source>
        <translation>
            <numerusform>Nach %n Byte gestoppt. Die Datei ist gespeichert.</numerusform>
            <numerusform>Nach %n Byte gestoppt. Die Datei ist gespeichert.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信せずに停止しました。ファイルは作っていません。</source>
        <translation>Ohne Empfang gestoppt. Keine Datei angelegt.</translation>
    </message>
    <message numerus="yes">
        <source>%n バイト受信後に回線が切れました。ファイルは保存しました。</source>
        <translation>
            <numerusform>Leitung nach %n Byte abgebrochen. Die Datei ist gespeichert.</numerusform>
            <numerusform>Leitung nach %n Byte abgebrochen. Die Datei ist gespeichert.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信しないうちに回線が切れました。ファイルは作っていません。</source>
        <translation>Die Leitung brach ab, bevor etwas kam. Keine Datei angelegt.</translation>
    </message>
    <message>
        <source>ポートを使用できません。</source>
        <translation>Der Anschluss ist nicht verwendbar.</translation>
    </message>
    <message>
        <source>受信中に同じ名前のファイルができたため、保存できませんでした。</source>
        <translation>Inzwischen entstand eine Datei mit diesem Namen; nichts gespeichert.</translation>
    </message>
    <message>
        <source>ファイルに書き込めません。</source>
        <translation>Die Datei kann nicht geschrieben werden.</translation>
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
    <message>
        <source>受信中は送信できません。</source>
        <translation>Während des Empfangs kann nicht gesendet werden.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Anschluss belegt</translation>
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
