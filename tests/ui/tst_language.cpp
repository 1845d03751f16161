// The language the windows speak: chosen from the user's UI languages, and what each window,
// its buttons and a message box then show.
#include "language.h"
#include "programrig.h"
#include "sendwindow.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

using kibro::installTranslation;
using kibro::translationLanguage;

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void chosen_data();
    void chosen();
    void shown_data();
    void shown();
    void cleanup();
};

void LanguageTest::chosen_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("language");
    QTest::newRow("C") << QStringList{QStringLiteral("C")} << QString();
    QTest::newRow("ja_JP") << QStringList{QStringLiteral("ja-JP"), QStringLiteral("ja")}
                           << QString();
    QTest::newRow("en_US") << QStringList{QStringLiteral("en-US"), QStringLiteral("en")}
                           << QStringLiteral("en");
    QTest::newRow("de_AT") << QStringList{QStringLiteral("de-AT")} << QStringLiteral("de");
    QTest::newRow("fr_CA") << QStringList{QStringLiteral("fr_CA")} << QStringLiteral("fr");
    QTest::newRow("es, no translation")
        << QStringList{QStringLiteral("es-ES")} << QStringLiteral("en");
    QTest::newRow("pt then fr") << QStringList{QStringLiteral("pt-BR"), QStringLiteral("fr")}
                                << QStringLiteral("fr");
    QTest::newRow("de then ja") << QStringList{QStringLiteral("de"), QStringLiteral("ja")}
                                << QStringLiteral("de");
    QTest::newRow("ko then ja") << QStringList{QStringLiteral("ko"), QStringLiteral("ja-JP")}
                                << QString();
    QTest::newRow("none") << QStringList{} << QStringLiteral("en");
}

void LanguageTest::chosen()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QString, language);
    QCOMPARE(translationLanguage(uiLanguages), language);
}

void LanguageTest::shown_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("text");
    const struct
    {
        const char* what;
        QString ja, en, de, fr;
    } rows[] = {
        {"menu", QStringLiteral("終了(&X) 設定(&S)"), QStringLiteral("E&xit &Settings"),
         QStringLiteral("&Beenden &Einstellungen"), QStringLiteral("&Quitter &Paramètres")},
        {"open error box", QStringLiteral("COM1が開けません。|COM Open Error"),
         QStringLiteral("COM1 cannot be opened.|COM Open Error"),
         QStringLiteral("COM1 lässt sich nicht öffnen.|COM-Öffnungsfehler"),
         QStringLiteral("COM1 ne peut pas être ouvert.|Erreur d'ouverture COM")},
        {"settings caption", QStringLiteral("通信設定"), QStringLiteral("Communication Settings"),
         QStringLiteral("Verbindungseinstellungen"), QStringLiteral("Paramètres de communication")},
        {"send window", QStringLiteral("A.BASの送信|START|CANCEL"),
         QStringLiteral("Sending A.BAS|START|CANCEL"), QStringLiteral("A.BAS senden|START|ABBRUCH"),
         QStringLiteral("Envoi de A.BAS|ENVOYER|ANNULER")},
        {"send details", QStringLiteral("FileSize:8 Byte|DateTime:2026/01/02 3:04:05"),
         QStringLiteral("FileSize:8 Byte|DateTime:01/02/2026 3:04:05 AM"),
         QStringLiteral("Größe:8 Byte|Datum:02.01.2026 03:04:05"),
         QStringLiteral("Taille : 8 octets|Date : 02/01/2026 03:04:05")},
        {"file error box", QStringLiteral("ファイルを読み込めません。|File Error"),
         QStringLiteral("The file cannot be read.|File Error"),
         QStringLiteral("Die Datei kann nicht gelesen werden.|Dateifehler"),
         QStringLiteral("Impossible de lire le fichier.|Erreur de fichier")},
    };
    for (const auto& row : rows) {
        QTest::addRow("ja %s", row.what) << QString() << row.what << row.ja;
        QTest::addRow("en %s", row.what) << QStringLiteral("en") << row.what << row.en;
        QTest::addRow("de %s", row.what) << QStringLiteral("de") << row.what << row.de;
        QTest::addRow("fr %s", row.what) << QStringLiteral("fr") << row.what << row.fr;
    }
}

void LanguageTest::shown()
{
    QFETCH(QString, language);
    QFETCH(QString, what);
    QFETCH(QString, text);

    QVERIFY(installTranslation(language));
    ProgramRig rig;
    // Nothing is plugged in: start-up cannot open COM1, says so and opens the settings window.
    rig.startUp();
    const QString path = rig.writeFile(QStringLiteral("A.BAS"), "10 END\r\n");
    QVERIFY(!path.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                             QFileDevice::FileModificationTime));
    file.close();
    kibro::SendWindow send(rig.mainWindow().serialPort(), nullptr);

    QStringList shown;
    if (what == u"menu") {
        for (const QAction* action : rig.mainWindow().menuBar()->actions())
            shown << action->text();
        QCOMPARE(shown.join(u' '), text);
        return;
    }
    if (what == u"open error box") {
        QVERIFY(!rig.messages().messages().isEmpty());
        const auto& box = rig.messages().messages().constFirst();
        shown << box.text << box.title;
    } else if (what == u"settings caption") {
        QVERIFY(rig.mainWindow().settingsWindow());
        shown << rig.mainWindow().settingsWindow()->windowTitle();
    } else if (what == u"send window") {
        QVERIFY(send.loadFile(kibro::toNativePath(path)));
        shown << send.windowTitle();
        for (const char* name : {"Command2", "Command1"})
            shown << send.findChild<QPushButton*>(QLatin1String(name))->text();
    } else if (what == u"send details") {
        QVERIFY(send.loadFile(kibro::toNativePath(path)));
        shown = send.findChild<QLabel*>(QStringLiteral("Label1"))->text().split(u'\n').mid(1);
    } else if (what == u"file error box") {
        const qsizetype before = rig.messages().messages().size();
        QVERIFY(!send.loadFile(kibro::toNativePath(path + QStringLiteral(".gone"))));
        const auto& box = rig.messages().messages().at(before);
        shown << box.text << box.title;
    }
    QCOMPARE(shown.join(u'|'), text);
}

void LanguageTest::cleanup()
{
    // A translator leaves the application as it is deleted.
    qDeleteAll(qApp->findChildren<QTranslator*>());
}

QTEST_MAIN(LanguageTest)

#include "tst_language.moc"
