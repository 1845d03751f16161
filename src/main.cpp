#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kibro"));
    // Every window carries the icon; the desktop entry's name lets a Wayland shell match it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kibro/kibro.xpm")));
    QGuiApplication::setDesktopFileName(QStringLiteral("kibro"));

    kibro::MainWindow mainWindow;
    // The main window shows only once its load, with any message and the settings window
    // that follow a failed open, is done.
    mainWindow.startUp();
    mainWindow.show();
    return QApplication::exec();
}
