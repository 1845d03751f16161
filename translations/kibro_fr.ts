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
