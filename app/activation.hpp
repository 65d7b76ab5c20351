// Bringing the running window forward for a later start. The start carries
// the launcher's proof of the user's action (an X11 startup id with the
// launch's time, or a Wayland activation token), which lets a window manager
// that prevents focus stealing give the window the focus.
#pragma once

#include <QByteArray>
#include <cstdint>

class QWidget;

namespace korvalen {

// The launch's X server time in an X11 startup id ("<anything>_TIME<n>");
// 0 when it holds none.
std::uint32_t StartupIdTime(const QByteArray& startupId);

// Restores, shows, raises and activates `window` for the start that handed
// over `startupId` (its DESKTOP_STARTUP_ID, or XDG_ACTIVATION_TOKEN on
// Wayland; empty for none). On X11 the id goes on the window's
// _NET_STARTUP_ID, and the activation asks for the launch's time.
void ComeForward(QWidget& window, const QByteArray& startupId);

}  // namespace korvalen
