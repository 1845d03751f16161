#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>

struct xcb_connection_t;

// A connection of its own to the X display: sees another program's windows as the X server
// has them (no window manager under Xvfb, so a top-level window's size is its client area)
// and types on the server's keyboard through XTEST, as a user would.
class XDisplay
{
public:
    struct Window
    {
        std::uint32_t id = 0;
        QRect geometry; // physical pixels, on the root window
        QString title;
    };

    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    [[nodiscard]] bool isOpen() const noexcept { return m_connection != nullptr; }
    [[nodiscard]] bool hasXTest() const noexcept { return m_xtest; }

    // The mapped top-level windows of one process.
    [[nodiscard]] QList<Window> windowsOf(qint64 pid);
    [[nodiscard]] std::optional<Window> findWindow(qint64 pid, const QString& title);

    // Under a window manager: whether one runs, one process's managed windows bottom to top,
    // and the window that has the keyboard (0 for none).
    [[nodiscard]] bool hasWindowManager();
    [[nodiscard]] QList<Window> stackingOf(qint64 pid);
    [[nodiscard]] std::uint32_t activeWindow();

    // What the window shows now; a null image when the pixel format is not 32-bit.
    [[nodiscard]] QImage grab(std::uint32_t window);
    // What the window shows once its program has drawn all of it afresh: the window is covered
    // with a colour none of ours uses and reported exposed to its program, and the grab counts
    // once none of that colour is left. A null image if that takes longer than timeoutMs.
    [[nodiscard]] QImage grabPainted(std::uint32_t window, int timeoutMs);
    // The images of _NET_WM_ICON.
    [[nodiscard]] QList<QImage> icons(std::uint32_t window);

    // Gives the window the keyboard, as a window manager does on a click.
    void focus(std::uint32_t window);
    // Presses the keys in order and releases them in reverse: {XK_Alt_L, XK_s} is Alt+S.
    [[nodiscard]] bool chord(std::initializer_list<std::uint32_t> keysyms);

private:
    [[nodiscard]] std::uint32_t atom(const char* name);
    // A mapped window of the process, or nothing.
    [[nodiscard]] std::optional<Window> describe(std::uint32_t window, qint64 pid);
    [[nodiscard]] QByteArray property(std::uint32_t window, std::uint32_t property,
                                      std::uint32_t type, std::uint8_t* format = nullptr);
    [[nodiscard]] std::optional<std::uint8_t> keycode(std::uint32_t keysym);
    void sync();

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_root = 0;
    bool m_xtest = false;
};
