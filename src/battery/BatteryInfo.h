// SPDX-License-Identifier: MIT
#pragma once

#include "battery/BatteryListener.h"

#include <string>

namespace drainwatch {

// What `drainwatch --battery-info` prints: every registry key in Key order as
// `<registry key>: <value> <unit or meaning>`, then every listener metric as
// `<metric>: <value> <unit or meaning>`, `(none)` where a read has no value.
std::string batteryInfoText(const BatteryListener& listener);

} // namespace drainwatch
