// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace drainwatch {

// "2026-12-09T14:05:00+01:00": whole seconds in the local zone, with its
// offset at that time; empty where the time has no such date.
std::string isoLocalTime(double time);
// "2026-12-09 14:05", local, for tables.
std::string shortLocalTime(double time);
// The local midnight that begins a YYYY-MM-DD day, or the day daysLater;
// empty for anything else, a 30 February too.
std::optional<double> localDayStart(const std::string& date, int daysLater = 0);

} // namespace drainwatch
