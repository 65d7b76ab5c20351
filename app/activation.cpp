#include "app/activation.hpp"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace korvalen {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The id on the window, and the window manager asked to activate it at the
// launch's time. False when Qt has to activate it (no X11, or an id without
// a time: Qt's request then carries the last time it saw).
bool ActivateOnX11(QWidget& window, const QByteArray& startupId) {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t startupAtom = Atom(connection, "_NET_STARTUP_ID");
    const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
    const xcb_atom_t active = Atom(connection, "_NET_ACTIVE_WINDOW");
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr));
    if (startupAtom == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE || active == XCB_ATOM_NONE || !tree) {
        return false;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, startupAtom, utf8, 8,
                        static_cast<std::uint32_t>(startupId.size()), startupId.constData());
    const std::uint32_t time = StartupIdTime(startupId);
    if (time != 0) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = active;
        event.data.data32[0] = 1;  // the request of an application
        event.data.data32[1] = time;
        xcb_send_event(connection, 0, tree->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection);
    return time != 0;
}

}  // namespace

std::uint32_t StartupIdTime(const QByteArray& startupId) {
    const qsizetype at = startupId.lastIndexOf("_TIME");
    if (at < 0) {
        return 0;
    }
    const char* first = startupId.constData() + at + 5;
    const char* last = startupId.constData() + startupId.size();
    std::uint32_t time = 0;
    const auto [end, error] = std::from_chars(first, last, time);
    // Nothing else after the number: "x_TIME12ab" is no time.
    return error == std::errc() && end == last ? time : 0;
}

void ComeForward(QWidget& window, const QByteArray& startupId) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")) && !startupId.isEmpty()) {
        qputenv("XDG_ACTIVATION_TOKEN", startupId);  // taken by the next activation
    } else if (platform == QLatin1String("xcb") && !startupId.isEmpty() &&
               ActivateOnX11(window, startupId)) {
        return;
    }
    window.activateWindow();
}

}  // namespace korvalen
