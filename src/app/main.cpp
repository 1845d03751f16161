#include "form1.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kibro"));
    // Every window carries the icon; the desktop entry's name lets a Wayland shell match it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kibro/kibro.xpm")));
    QGuiApplication::setDesktopFileName(QStringLiteral("kibro"));

    kibro::Form1 form1;
    // The main window shows only once its load, with any message and the settings window
    // that follow a failed open, is done.
    form1.Form_load();
    form1.show();
    return QApplication::exec();
}
