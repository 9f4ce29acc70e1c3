// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace drainwatch {

// The desktop ID of an application's unit under the user manager's
// app.slice, after systemd's desktop naming: app[-LAUNCHER]-ID[@RANDOM].service,
// app[-LAUNCHER]-ID-RANDOM.scope, app[-LAUNCHER]-ID.slice. A '-' inside the
// ID is escaped as \x2d, so the first '-' after "app-" ends the launcher.
// Empty for a unit that does not name an application.
std::optional<std::string> desktopIdOfUnit(std::string_view unitName);

// usage_usec of a cgroup's cpu.stat, in seconds: its processes' time,
// the exited ones included. Unknown where the line is missing or garbled.
std::optional<double> usageSecondsFromCpuStat(std::string_view cpuStatText);

} // namespace drainwatch
