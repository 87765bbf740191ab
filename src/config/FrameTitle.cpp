#include "config/FrameTitle.h"

#include <QWidget>

#ifdef _WIN32

namespace config {

// A Windows frame shows an empty title as empty.
void clearFrameTitle(QWidget& /*window*/) {}

} // namespace config

#else

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace config {

namespace {

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr) {
        return XCB_ATOM_NONE;
    }
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

void clearFrameTitle(QWidget& window) {
    auto* x11 = qGuiApp == nullptr ? nullptr
                                   : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || !window.isWindow() || !window.windowTitle().isEmpty()) {
        return;
    }
    // The offscreen platform may offer the X11 interface without a connection behind it.
    xcb_connection_t* connection = x11->connection();
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        return;
    }
    const xcb_atom_t name = atomNamed(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atomNamed(connection, "UTF8_STRING");
    if (name == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE) {
        return;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                        name, utf8, 8, 0, "");
    xcb_flush(connection);
}

} // namespace config

#endif
