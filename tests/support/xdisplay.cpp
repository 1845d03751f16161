#include "xdisplay.h"

#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> ReplyPtr<Reply> owned(Reply* reply)
{
    return ReplyPtr<Reply>(reply, &std::free);
}

// Drawn over a window before it is painted again: no control, text or icon of ours has it.
constexpr QRgb kUnpainted = 0xfe01fd;

bool anyUnpainted(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & RGB_MASK) == kUnpainted)
                return true;
        }
    }
    return false;
}

} // namespace

XDisplay::XDisplay()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(m_connection, &xcb_test_id);
    m_xtest = xtest != nullptr && xtest->present;
}

XDisplay::~XDisplay()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

std::uint32_t XDisplay::atom(const char* name)
{
    auto reply = owned(xcb_intern_atom_reply(
        m_connection,
        xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

QByteArray XDisplay::property(std::uint32_t window, std::uint32_t property, std::uint32_t type,
                              std::uint8_t* format)
{
    // Large enough for every icon size a toolkit sets.
    constexpr std::uint32_t kMaxWords = 1u << 20;
    auto reply = owned(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, kMaxWords),
        nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    if (format)
        *format = reply->format;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<XDisplay::Window> XDisplay::describe(std::uint32_t window, qint64 pid)
{
    auto attributes = owned(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return std::nullopt;
    std::uint8_t format = 0;
    const QByteArray pidValue = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, &format);
    if (format != 32 || pidValue.size() < 4)
        return std::nullopt;
    std::uint32_t windowPid = 0;
    std::memcpy(&windowPid, pidValue.constData(), sizeof windowPid);
    if (windowPid != pid)
        return std::nullopt;
    auto geometry = owned(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    auto origin = owned(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (!geometry || !origin)
        return std::nullopt;
    Window found;
    found.id = window;
    found.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    QByteArray name = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    if (name.isEmpty())
        name = property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    found.title = QString::fromUtf8(name);
    return found;
}

QList<XDisplay::Window> XDisplay::windowsOf(qint64 pid)
{
    QList<Window> found;
    if (!m_connection)
        return found;
    auto tree =
        owned(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return found;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        if (auto window = describe(children[i], pid))
            found.append(*window);
    }
    return found;
}

bool XDisplay::hasWindowManager()
{
    return m_connection &&
           !property(m_root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).isEmpty();
}

QList<XDisplay::Window> XDisplay::stackingOf(qint64 pid)
{
    QList<Window> found;
    if (!m_connection)
        return found;
    const QByteArray list = property(m_root, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    for (qsizetype at = 0; at + 4 <= list.size(); at += 4) {
        std::uint32_t id = 0;
        std::memcpy(&id, list.constData() + at, sizeof id);
        if (auto window = describe(id, pid))
            found.append(*window);
    }
    return found;
}

std::uint32_t XDisplay::activeWindow()
{
    std::uint32_t id = 0;
    const QByteArray value = property(m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (value.size() >= 4)
        std::memcpy(&id, value.constData(), sizeof id);
    return id;
}

std::optional<XDisplay::Window> XDisplay::findWindow(qint64 pid, const QString& title)
{
    for (const Window& window : windowsOf(pid)) {
        if (window.title == title)
            return window;
    }
    return std::nullopt;
}

QImage XDisplay::grab(std::uint32_t window)
{
    auto geometry = owned(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry)
        return {};
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return {};
    bool thirtyTwoBits = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == geometry->depth)
            thirtyTwoBits = formats.data->bits_per_pixel == 32;
    }
    if (!thirtyTwoBits)
        return {};
    auto image =
        owned(xcb_get_image_reply(m_connection,
                                  xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                                0, geometry->width, geometry->height, ~0u),
                                  nullptr));
    const int width = geometry->width;
    const int height = geometry->height;
    if (!image || xcb_get_image_data_length(image.get()) < width * height * 4)
        return {};
    return QImage(xcb_get_image_data(image.get()), width, height, width * 4, QImage::Format_RGB32)
        .copy();
}

QImage XDisplay::grabPainted(std::uint32_t window, int timeoutMs)
{
    auto geometry = owned(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry)
        return {};
    const xcb_gcontext_t gc = xcb_generate_id(m_connection);
    const std::uint32_t values[] = {kUnpainted, 0};
    xcb_create_gc(m_connection, gc, window, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
    const xcb_rectangle_t whole{0, 0, geometry->width, geometry->height};
    xcb_poly_fill_rectangle(m_connection, window, gc, 1, &whole);
    xcb_free_gc(m_connection, gc);
    // The background is None: this leaves the colour in place and only sends the Expose.
    xcb_clear_area(m_connection, 1, window, 0, 0, 0, 0);
    sync();
    QImage image;
    const auto painted = [&] {
        image = grab(window);
        return !image.isNull() && !anyUnpainted(image);
    };
    return QTest::qWaitFor(painted, timeoutMs) ? image : QImage();
}

QList<QImage> XDisplay::icons(std::uint32_t window)
{
    QList<QImage> images;
    std::uint8_t format = 0;
    const QByteArray data = property(window, atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL, &format);
    if (format != 32)
        return images;
    const auto* words = reinterpret_cast<const std::uint32_t*>(data.constData());
    const qsizetype count = data.size() / 4;
    for (qsizetype at = 0; at + 2 <= count;) {
        const std::uint32_t width = words[at];
        const std::uint32_t height = words[at + 1];
        at += 2;
        const qsizetype pixels = static_cast<qsizetype>(width) * height;
        if (width == 0 || height == 0 || at + pixels > count)
            break;
        QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
        for (qsizetype i = 0; i < pixels; ++i)
            image.setPixel(static_cast<int>(i % width), static_cast<int>(i / width), words[at + i]);
        images.append(image);
        at += pixels;
    }
    return images;
}

void XDisplay::focus(std::uint32_t window)
{
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

std::optional<std::uint8_t> XDisplay::keycode(std::uint32_t keysym)
{
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto mapping = owned(
        xcb_get_keyboard_mapping_reply(m_connection,
                                       xcb_get_keyboard_mapping(m_connection, setup->min_keycode,
                                                                static_cast<std::uint8_t>(count)),
                                       nullptr));
    if (!mapping)
        return std::nullopt;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    // Only the unshifted level: a chord names the shift key itself when it needs one.
    for (int code = 0; code < count; ++code) {
        if (keysyms[code * perKeycode] == keysym)
            return static_cast<std::uint8_t>(setup->min_keycode + code);
    }
    return std::nullopt;
}

bool XDisplay::chord(std::initializer_list<std::uint32_t> keysyms)
{
    if (!m_connection || !m_xtest)
        return false;
    QList<std::uint8_t> codes;
    for (const std::uint32_t keysym : keysyms) {
        const auto code = keycode(keysym);
        if (!code)
            return false;
        codes.append(*code);
    }
    for (const std::uint8_t code : codes)
        xcb_test_fake_input(m_connection, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto code = codes.crbegin(); code != codes.crend(); ++code)
        xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, *code, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                            0);
    sync();
    return true;
}

void XDisplay::sync()
{
    // A round trip: everything sent before has reached the server.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}
