// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace drainwatch {

// Core-seconds the processors were busy since boot, from the first line of
// PROC/stat: user, nice, system, irq, softirq and steal (guest is inside
// user; idle and iowait are not busy). Unknown where the line is garbled.
std::optional<double> busySecondsFromStat(std::string_view statText, long ticksPerSecond);

// The same, read from procDir/stat with the system's clock ticks.
std::optional<double> readBusySeconds(const std::filesystem::path& procDir);

} // namespace drainwatch
