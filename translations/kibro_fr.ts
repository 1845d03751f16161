<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr" sourcelanguage="ja">
<context>
    <name>kibro::MainWindow</name>
    <message>
        <source>終了(&amp;X)</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Paramètres</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> ne peut pas être ouvert.</translation>
    </message>
    <message>
        <source>受信(&amp;R)</source>
        <translation>&amp;Recevoir</translation>
    </message>
</context>
<context>
    <name>kibro::ReceiveWindow</name>
    <message>
        <source>ファイルの受信</source>
        <translation>Recevoir un fichier</translation>
    </message>
    <message>
        <source>ファイル名:</source>
        <translation>Nom du fichier :</translation>
    </message>
    <message>
        <source>上書きする</source>
        <translation>Écraser</translation>
    </message>
    <message>
        <source>無音で終了:</source>
        <translation>Fin après silence :</translation>
    </message>
    <message>
        <source> 秒</source>
        <extracomment>after the number of seconds of silence that end a receive</extracomment>
        <translation> s</translation>
    </message>
    <message>
        <source>START</source>
        <translation>RECEVOIR</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>ARRÊT</translation>
    </message>
    <message>
        <source>ポート: COM%1  %2 bit/s</source>
        <translation>Port : COM%1  %2 bit/s</translation>
    </message>
    <message>
        <source>送信中は受信できません。</source>
        <translation>Impossible de recevoir pendant un envoi.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Port occupé</translation>
    </message>
    <message>
        <source>ファイル名が正しくありません。</source>
        <translation>Le nom du fichier n’est pas valide.</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあります。</source>
        <translation>Un fichier de ce nom existe déjà.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>Fichier existant</translation>
    </message>
    <message>
        <source>ポケットコンピュータからの送信を待っています…</source>
        <translation>En attente de l’envoi de l’ordinateur de poche…</translation>
    </message>
    <message numerus="yes">
        <source>受信 %n バイト  経過 %1</source>
        <translation>
            <numerusform>Reçu %n octet  Durée %1</numerusform>
            <numerusform>Reçu %n octets  Durée %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトを %1 に保存しました。</source>
        <translation>
            <numerusform>%n octet reçu dans %1.</numerusform>
            <numerusform>%n octets reçus dans %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n バイトで停止しました。ファイルは保存しました。</source>
        <translation>
            <numerusform>Arrêté après %n octet. Le fichier est conservé.</numerusform>
            <numerusform>Arrêté après %n octets. Le fichier est conservé.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信せずに停止しました。ファイルは作っていません。</source>
        <translation>Arrêté sans rien recevoir. Aucun fichier créé.</translation>
    </message>
    <message numerus="yes">
        <source>%n バイト受信後に回線が切れました。ファイルは保存しました。</source>
        <translation>
            <numerusform>Liaison perdue après %n octet. Le fichier est conservé.</numerusform>
            <numerusform>Liaison perdue après %n octets. Le fichier est conservé.</numerusform>
        </translation>
    </message>
    <message>
        <source>何も受信しないうちに回線が切れました。ファイルは作っていません。</source>
        <translation>La liaison a été perdue avant toute réception. Aucun fichier créé.</translation>
    </message>
    <message>
        <source>ポートを使用できません。</source>
        <translation>Le port ne peut pas être utilisé.</translation>
    </message>
    <message>
        <source>受信中に同じ名前のファイルができたため、保存できませんでした。</source>
        <translation>Un fichier de ce nom est apparu entre-temps ; rien n’a été enregistré.</translation>
    </message>
    <message>
        <source>ファイルに書き込めません。</source>
        <translation>Impossible d’écrire le fichier.</translation>
    </message>
</context>
<context>
    <name>kibro::SendWindow</name>
    <message>
        <source>ファイルが大きすぎます。</source>
        <translation>Le fichier est trop volumineux.</translation>
    </message>
    <message>
        <source>ファイルを読み込めません。</source>
        <translation>Impossible de lire le fichier.</translation>
    </message>
    <message>
        <source>START</source>
        <translation>ENVOYER</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ANNULER</translation>
    </message>
    <message>
        <source>%1の送信</source>
        <extracomment>caption of the send window, before and while sending; %1 is the file&apos;s name</extracomment>
        <translation>Envoyer %1</translation>
    </message>
    <message>
        <source>FileName:</source>
        <translation>Fichier : </translation>
    </message>
    <message>
        <source>DateTime:</source>
        <translation>Date : </translation>
    </message>
    <message>
        <source>File Error</source>
        <translation>Erreur de fichier</translation>
    </message>
    <message>
        <source>ファイル転送を中止します。</source>
        <translation>Le transfert du fichier est annulé.</translation>
    </message>
    <message>
        <source>ファイル転送に失敗しました。</source>
        <translation>Le transfert du fichier a échoué.</translation>
    </message>
    <message>
        <source>Transfer Error</source>
        <translation>Erreur de transfert</translation>
    </message>
    <message numerus="yes">
        <source>FileSize:%n Byte</source>
        <translation>
            <numerusform>Taille : %n octet</numerusform>
            <numerusform>Taille : %n octets</numerusform>
        </translation>
    </message>
    <message>
        <source>受信中は送信できません。</source>
        <translation>Impossible d’envoyer pendant une réception.</translation>
    </message>
    <message>
        <source>Port Busy</source>
        <translation>Port occupé</translation>
    </message>
</context>
<context>
    <name>kibro::SettingsWindow</name>
    <message>
        <source>デバイス: なし</source>
        <translation>Périphérique : aucun</translation>
    </message>
    <message>
        <source>デバイス: %1</source>
        <translation>Périphérique : %1</translation>
    </message>
    <message>
        <source>接続: あり</source>
        <translation>Connecté : oui</translation>
    </message>
    <message>
        <source>接続: なし</source>
        <translation>Connecté : non</translation>
    </message>
    <message>
        <source>説明: %1</source>
        <translation>Description : %1</translation>
    </message>
    <message>
        <source>メーカー: %1</source>
        <translation>Fabricant : %1</translation>
    </message>
    <message>
        <source>シリアル番号: %1</source>
        <translation>Numéro de série : %1</translation>
    </message>
    <message>
        <source>COM Open Error</source>
        <translation>Erreur COM</translation>
    </message>
    <message>
        <source>通信設定</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Débit en bauds</translation>
    </message>
    <message>
        <source>COMポート</source>
        <translation>Port COM</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ANNULER</translation>
    </message>
    <message>
        <source>が開けません。</source>
        <translation> ne peut pas être ouvert.</translation>
    </message>
    <message>
        <source>が開けませんでした。</source>
        <translation> n&apos;a pas pu être ouvert.</translation>
    </message>
    <message>
        <source>アクセス権: なし（このユーザーは開けません）</source>
        <translation>Accès : refusé (cet utilisateur ne peut pas l&apos;ouvrir)</translation>
    </message>
</context>
</TS>
