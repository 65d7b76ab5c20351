// A later start brings the window forward with its own startup id: the id
// lands on the window, and the window manager is asked to activate it at the
// launch's time. Run under an X server (xvfb-run); the test itself stands in
// for the window manager.
#include "app/activation.hpp"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace korvalen {
namespace {

TEST(Activation, StartupIdTimes) {
    const struct {
        const char* id;
        std::uint32_t time;
    } cases[] = {
        {"openbox-12-host-pcmanfm-3_TIME4242", 4242},
        {"a_TIME1-b_TIME77", 77},  // the last one counts
        {"x_TIME4294967295", 4294967295U},
        {"x_TIME4294967296", 0},  // past 32 bits
        {"x_TIME12ab", 0},
        {"no-time", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StartupIdTime(c.id), c.time) << c.id;
    }
}

struct Free {
    void operator()(void* p) const { std::free(p); }
};

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, Free> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : 0;
}

TEST(Activation, TheStartupIdAndItsTimeReachTheWindowManager) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "needs an X server";
    }
    int screenNumber = 0;
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> wm(
        xcb_connect(nullptr, &screenNumber), &xcb_disconnect);
    ASSERT_EQ(xcb_connection_has_error(wm.get()), 0);
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(wm.get()));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&screen);
    }
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // From here the test is the window manager: requests to the root come to it.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    const std::unique_ptr<xcb_generic_error_t, Free> taken(
        xcb_request_check(wm.get(), xcb_change_window_attributes_checked(
                                        wm.get(), screen.data->root, XCB_CW_EVENT_MASK, &mask)));
    if (taken) {
        GTEST_SKIP() << "another window manager runs";
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t active = Atom(wm.get(), "_NET_ACTIVE_WINDOW");
    for (const QByteArray startupId : {"launch-1_TIME4242", "launch-2_TIME77"}) {
        ComeForward(window, startupId);
        const xcb_atom_t property = Atom(wm.get(), "_NET_STARTUP_ID");
        const std::unique_ptr<xcb_get_property_reply_t, Free> value(xcb_get_property_reply(
            wm.get(),
            xcb_get_property(wm.get(), 0, id, property, Atom(wm.get(), "UTF8_STRING"), 0, 256),
            nullptr));
        ASSERT_TRUE(value);
        EXPECT_EQ(QByteArray(static_cast<const char*>(xcb_get_property_value(value.get())),
                             xcb_get_property_value_length(value.get())),
                  startupId);
        std::unique_ptr<xcb_generic_event_t, Free> event;
        const auto asked = [&] {
            while (event.reset(xcb_poll_for_event(wm.get())), event) {
                if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                    reinterpret_cast<xcb_client_message_event_t*>(event.get())->type == active) {
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(QTest::qWaitFor(asked, 3000)) << startupId.constData();
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        EXPECT_EQ(message->window, id);
        EXPECT_EQ(message->data.data32[0], 1U);  // an application asks
        EXPECT_EQ(message->data.data32[1], StartupIdTime(startupId));
    }
}

}  // namespace
}  // namespace korvalen
