// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

#include <optional>

namespace drainwatch {

// How the tray icon is drawn: the charge (a fraction, empty when unknown),
// whether the charger is in, and whether the panel behind it is dark.
struct BatteryLook {
    std::optional<double> charge;
    bool pluggedIn = false;
    bool darkPanel = true;

    bool operator==(const BatteryLook&) const = default;
};

// A battery glyph filled to the charge, with a bolt while the charger is in,
// its outline in the panel's contrasting colour; drawn in code so that no
// image plugin is needed.
QImage batteryImage(const BatteryLook& look, int size = 64);
QIcon batteryIcon(const BatteryLook& look);

// Whether the application's palette, which follows the desktop's theme, is
// a dark one.
bool darkPalette();

} // namespace drainwatch
