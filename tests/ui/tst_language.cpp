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
    // Menu, open-error box, settings caption, send window, its details, file error box; the
    // details of a file of that many bytes, its date in the locale's order.
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("ja") << QString() << "C" << QByteArray("10 END\r\n")
                        << QStringList{"終了(&X) 設定(&S) 受信(&R)",
                                       "COM1が開けません。|COM Open Error",
                                       "通信設定",
                                       "A.BASの送信|START|CANCEL",
                                       "FileSize:8 Byte|DateTime:2026/01/02 3:04:05",
                                       "ファイルを読み込めません。|File Error"};
    QTest::newRow("en") << QStringLiteral("en") << "en_US" << QByteArray("10 END\r\n")
                        << QStringList{"E&xit &Settings &Receive",
                                       "COM1 cannot be opened.|COM Open Error",
                                       "Settings",
                                       "Send A.BAS|START|CANCEL",
                                       "File size: 8 bytes|Date: 1/2/2026 3:04:05 AM",
                                       "The file cannot be read.|File Error"};
    QTest::newRow("en_GB") << QStringLiteral("en") << "en_GB" << QByteArray("\x1a")
                           << QStringList{"E&xit &Settings &Receive",
                                          "COM1 cannot be opened.|COM Open Error",
                                          "Settings",
                                          "Send A.BAS|START|CANCEL",
                                          "File size: 1 byte|Date: 02/01/2026 03:04:05",
                                          "The file cannot be read.|File Error"};
    QTest::newRow("de") << QStringLiteral("de") << "de_DE" << QByteArray("10 END\r\n")
                        << QStringList{"&Beenden &Einstellungen Emp&fangen",
                                       "COM1 lässt sich nicht öffnen.|COM-Fehler",
                                       "Einstellungen",
                                       "A.BAS senden|START|ABBRUCH",
                                       "Größe:8 Byte|Datum:02.01.2026 03:04:05",
                                       "Die Datei kann nicht gelesen werden.|Dateifehler"};
    QTest::newRow("fr") << QStringLiteral("fr") << "fr_FR" << QByteArray()
                        << QStringList{"&Quitter &Paramètres &Recevoir",
                                       "COM1 ne peut pas être ouvert.|Erreur COM",
                                       "Paramètres",
                                       "Envoyer A.BAS|ENVOYER|ANNULER",
                                       "Taille : 0 octet|Date : 02/01/2026 03:04:05",
                                       "Impossible de lire le fichier.|Erreur de fichier"};
}

void LanguageTest::shown()
{
    QFETCH(QString, language);
    QFETCH(QString, locale);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, texts);

    QLocale::setDefault(QLocale(locale));
    QVERIFY(installTranslation(language));
    ProgramRig rig;
    // Nothing is plugged in: start-up cannot open COM1, says so and opens the settings window.
    rig.startUp();
    const QString path = rig.writeFile(QStringLiteral("A.BAS"), content);
    QVERIFY(!path.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                             QFileDevice::FileModificationTime));
    file.close();
    kibro::SendWindow send(rig.mainWindow().serialPort(), nullptr);
    QVERIFY(rig.mainWindow().settingsWindow());
    QVERIFY(send.loadFile(kibro::toNativePath(path)));

    QStringList menu;
    for (const QAction* action : rig.mainWindow().menuBar()->actions())
        menu << action->text();
    QStringList buttons{send.windowTitle()};
    for (const char* name : {"Command2", "Command1"})
        buttons << send.findChild<QPushButton*>(QLatin1String(name))->text();
    const QStringList details =
        send.findChild<QLabel*>(QStringLiteral("Label1"))->text().split(u'\n').mid(1);
    QVERIFY(!send.loadFile(kibro::toNativePath(path + QStringLiteral(".gone"))));
    const auto& messages = rig.messages().messages();
    QCOMPARE(messages.size(), 2);
    const auto box = [](const MessageRecorder::Message& m) { return m.text + u'|' + m.title; };
    const QStringList shown{
        menu.join(u' '),    box(messages.at(0)), rig.mainWindow().settingsWindow()->windowTitle(),
        buttons.join(u'|'), details.join(u'|'),  box(messages.at(1))};
    QCOMPARE(shown, texts);
}

void LanguageTest::cleanup()
{
    // A translator leaves the application as it is deleted.
    qDeleteAll(qApp->findChildren<QTranslator*>());
    QLocale::setDefault(QLocale::system());
}

QTEST_MAIN(LanguageTest)

#include "tst_language.moc"
