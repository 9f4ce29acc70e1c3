// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/SleepRecord.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// The ledger in words, for the terminal, the window, the tray and the
// desktop notification. Unknown values are written "-", never 0.

// "15 s", "42 min", "8 h 05 min".
std::string sleepDurationText(double seconds);
// The time asleep, or for "not running" the time between start and end.
std::optional<double> sleepSeconds(const SleepRecord& record);

// The table of `drainwatch --sleeps`: one line a record as given (oldest
// first), then a summary per mode. Times in the local time zone; what woke a
// sleep named as its owner knows it, sysRoot standing for /sys.
std::string sleepTable(const std::vector<SleepRecord>& records, const std::filesystem::path& sysRoot);

// "Last sleep: 8 h 00 min in deep, 4.0% used, 0.50 %/h, 298 mW (shallow)",
// always one line.
std::string lastSleepLine(const SleepRecord& record);
// "Asleep, 62.0% would last 124 h at the usual 0.50 %/h"; empty without a rate.
std::string sleepForecastLine(double charge, std::optional<double> usualRatePerHour);

struct SleepNotice {
    std::string summary;
    std::string body;
};
// What a desktop notification says after a sleep that went wrong (high
// drain, shallow, failed or restless); empty for a sleep that did not.
// usualRatePerHour: the median of the history it was judged against. Where
// the record tells what to try, one next step ends it.
std::optional<SleepNotice> sleepNotice(const SleepRecord& record, std::optional<double> usualRatePerHour,
                                       const std::filesystem::path& sysRoot);

} // namespace drainwatch
