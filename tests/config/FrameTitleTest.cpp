#include "config/CONFIG1.h"

#include <QApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

/// The title a window manager shows on the frame: the UTF-8 name, or nothing.
std::string frameName(xcb_connection_t* connection, xcb_window_t window) {
    const char* atomName = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(atomName), atomName), nullptr);
    if (atom == nullptr) {
        return "<no atom>";
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::free(atom);
    if (reply == nullptr) {
        return "<no reply>";
    }
    const std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                           static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return name;
}

} // namespace

TEST(ConfigurationFrame, ShowsNoTitleTextOnX11) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || x11 == nullptr) {
        GTEST_SKIP() << "needs an X server";
    }
    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    QWidget mainWindow;
    config::CONFIG1 window(state, meter, &mainWindow);
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(frameName(x11->connection(), static_cast<xcb_window_t>(window.winId())), "");
}
