// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace drainwatch {

// Whether the display the window program would open answers at all. Qt
// aborts the process when it cannot connect to its display; a stale DISPLAY
// (an ssh session's forwarded X, a desktop long gone) must not be a dead end.
// A local X display is also greeted as libxcb greets it, with the user's
// cookie: one that takes the connection and refuses the user is as much a
// dead end. A remote one and Wayland are only connected to.
struct DisplayProbe {
    // The variables as the environment has them (empty: not set).
    std::string display;        // DISPLAY
    std::string waylandDisplay; // WAYLAND_DISPLAY
    std::string runtimeDir;     // XDG_RUNTIME_DIR, where a relative Wayland name lives
    std::string qtPlatform;     // QT_QPA_PLATFORM
    std::string xauthority;     // XAUTHORITY, else ~/.Xauthority; empty: no cookie

    static DisplayProbe fromEnvironment();

    // Empty when a display Qt may use answers (or Qt is to use a platform
    // that needs none, such as offscreen); otherwise why none does, as one
    // clause: "the X display :5 cannot be reached (Connection refused)".
    std::optional<std::string> unreachable() const;
};

} // namespace drainwatch
