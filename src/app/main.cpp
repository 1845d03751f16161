#include "displayprobe.h"
#include "errors.h"
#include "language.h"
#include "mainwindow.h"
#include "termination.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>
#include <QLocale>

#include <clocale>
#include <cstdio>

namespace {

// A name is bytes: the decoded argument loses those that are not valid text, so the file is
// opened by the argv entry it came from.
kibro::NativePath rawArgument(int argc, char* argv[], const QString& decoded)
{
    for (int i = argc - 1; i > 0; --i) {
        if (argv[i] && QFile::decodeName(argv[i]) == decoded)
            return QByteArray(argv[i]);
    }
    return kibro::toNativePath(decoded);
}

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// The options QGuiApplication and QApplication take out of argv themselves, known here so
// that they still pass: the command line is read before there is an application.
void addQtOptions(QCommandLineParser& parser)
{
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qwindowgeometry", "geometry", "qwindowtitle", "title", "qwindowicon",
                             "icon", "session", "display", "name", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "sync", "widgetcount", "testability", "nograb", "dograb"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    const QString name = QStringLiteral("kibro");
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(KIBRO_VERSION));

    // Help, version and a wrong command line need no display: they are answered before
    // QApplication, which aborts without one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    QCommandLineParser parser;
    // Qt's own options have one dash: -platform, not -p -l -a...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Sends a file to an FX-890P pocket computer over a serial line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    addQtOptions(parser);
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Start in FILE's folder with FILE's send window open."),
        QStringLiteral("[FILE]"));
    const bool parsed = parser.parse(arguments);
    if (parsed && parser.isSet(help)) {
        // Without an application object the parser does not know the program's name.
        QString text = parser.helpText();
        const QString usage = QStringLiteral("Usage: ");
        if (text.startsWith(usage))
            text.replace(usage.size(), text.indexOf(u' ', usage.size()) - usage.size(), name);
        print(stdout, text);
        return 0;
    }
    if (parsed && parser.isSet(version)) {
        print(stdout, name + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (!parsed || files.size() > 1) {
        print(stderr, kibro::usageErrorText(name, parsed ? QStringLiteral("one FILE at most")
                                                         : parser.errorText()));
        return 1;
    }

    const QString platform = parser.isSet(QStringLiteral("platform"))
                                 ? parser.value(QStringLiteral("platform"))
                                 : qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString missing =
        kibro::unreachableDisplay(platform, parser.value(QStringLiteral("display")));
    if (!missing.isEmpty()) {
        print(stderr, QStringLiteral("kibro: cannot open the display (%1)\n").arg(missing));
        return 1;
    }

    // Qt's own event loop rather than glib's: the wait for the line wakes about once a byte,
    // and each wake through glib costs a third more CPU. Nothing here needs glib's loop.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    // The system's error texts go to stderr, which speaks English whatever the windows speak.
    std::setlocale(LC_MESSAGES, "C");
    // Japanese, the texts' own language, needs no translator; C and POSIX show it too.
    const QString language = kibro::translationLanguage(QLocale().uiLanguages());
    if (!kibro::installTranslation(language))
        print(stderr, QStringLiteral("kibro: no %1 translation built in\n").arg(language));
    // Every window carries the icon; the desktop entry's name lets a Wayland shell match it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kibro/kibro.xpm")));
    QGuiApplication::setDesktopFileName(name);
    kibro::installSingleActionKeys(app);

    kibro::MainWindow mainWindow;
    // The main window shows only once its load, with any message and the settings window
    // that follow a failed open, is done; a FILE's send window comes after it.
    // A request to end takes the way 終了 takes, from before the port is opened.
    kibro::TerminationRequests termination;
    QObject::connect(&termination, &kibro::TerminationRequests::requested, &mainWindow,
                     &kibro::MainWindow::onExitTriggered);
    mainWindow.startUp();
    // Heard while a start-up box was up: that ended the box's loop, not yet the program's.
    if (mainWindow.hasEnded())
        return 0;
    mainWindow.show();
    if (!files.isEmpty())
        mainWindow.openNativeFile(rawArgument(argc, argv, files.constFirst()));
    return QApplication::exec();
}
