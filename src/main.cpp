#include "mainwindow.h"
#include "termination.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>

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

} // namespace

int main(int argc, char* argv[])
{
    // Qt's own event loop rather than glib's: the wait for the line wakes about once a byte,
    // and each wake through glib costs a third more CPU. Nothing here needs glib's loop.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kibro"));
    QApplication::setApplicationVersion(QStringLiteral(KIBRO_VERSION));
    // Every window carries the icon; the desktop entry's name lets a Wayland shell match it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kibro/kibro.xpm")));
    QGuiApplication::setDesktopFileName(QStringLiteral("kibro"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends a file to a Casio FX-890P pocket computer over a serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Start in FILE's folder with FILE's send window open."),
        QStringLiteral("[FILE]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fputs("kibro: one FILE at most; see kibro --help\n", stderr);
        return 1;
    }

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
