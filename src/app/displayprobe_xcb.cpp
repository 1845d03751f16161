#include "displayprobe.h"

#include <QFileInfo>
#include <QStringList>

#include <xcb/xcb.h>

namespace kibro {

namespace {

bool xDisplayOpens(const QByteArray& name)
{
    xcb_connection_t* connection =
        xcb_connect(name.isEmpty() ? nullptr : name.constData(), nullptr);
    const bool opens = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection); // also frees a connection in error
    return opens;
}

// libwayland's own rule: $WAYLAND_SOCKET is a connected descriptor; otherwise
// $WAYLAND_DISPLAY (default wayland-0), a path or a name in $XDG_RUNTIME_DIR. A socket left
// by a compositor that died is taken as there; Qt then reports it.
bool waylandSocketExists()
{
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET"))
        return true;
    QString name = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    if (!name.startsWith(u'/')) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        name = runtime + u'/' + name;
    }
    return QFileInfo::exists(name);
}

} // namespace

QString unreachableDisplay(const QString& platform, const QString& display)
{
    // Qt's choice when none is named: Wayland in a Wayland session, X11 also, for XWayland.
    QStringList plugins{QStringLiteral("xcb")};
    if (!platform.isEmpty())
        plugins = platform.split(u';', Qt::SkipEmptyParts);
    else if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        plugins.prepend(QStringLiteral("wayland"));

    const QByteArray xDisplay = display.isEmpty() ? qgetenv("DISPLAY") : display.toLocal8Bit();
    for (const QString& entry : plugins) {
        // A plugin's options follow its name after a colon.
        const QString plugin = entry.section(u':', 0, 0);
        if (plugin == QLatin1String("xcb")) {
            if (xDisplayOpens(xDisplay))
                return {};
        } else if (plugin.startsWith(QLatin1String("wayland"))) {
            if (waylandSocketExists())
                return {};
        } else {
            return {}; // offscreen, vnc, eglfs...: no display server to look for
        }
    }

    QString looked = !display.isEmpty() ? QStringLiteral("-display ") + display
                     : xDisplay.isEmpty()
                         ? QStringLiteral("DISPLAY not set")
                         : QStringLiteral("DISPLAY=") + QString::fromLocal8Bit(xDisplay);
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        looked += QStringLiteral(", WAYLAND_DISPLAY=") + qEnvironmentVariable("WAYLAND_DISPLAY");
    return looked;
}

} // namespace kibro
