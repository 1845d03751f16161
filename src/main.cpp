#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
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
    // The arguments are argv decoded as QFile::decodeName does, so a name opens as given.
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fputs("kibro: one FILE at most; see kibro --help\n", stderr);
        return 1;
    }

    kibro::MainWindow mainWindow;
    // The main window shows only once its load, with any message and the settings window
    // that follow a failed open, is done; a FILE's send window comes after it.
    mainWindow.startUp();
    mainWindow.show();
    if (!files.isEmpty())
        mainWindow.openFile(files.constFirst());
    return QApplication::exec();
}
