// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace drainwatch {

// One row of the battery's history: what a tick read, at most one a minute,
// and one at each event.
struct HistorySample {
    double time = 0;                 // wall clock, seconds since 1970
    double charge = 0;               // fraction of full, 0..1
    std::optional<double> currentMA; // positive while discharging
    bool onExternalPower = false;
    std::optional<double> volts;
    std::optional<double> fullMAh; // full-charge capacity
    std::optional<double> designMAh;
    std::optional<std::int64_t> cycles; // where the battery counts them
    std::string event;                  // "" for none; else "start", "quit",
                                        // "charger connected", "charger disconnected",
                                        // "will sleep", "wake", "missed heartbeat"
};

// Takes samples one at a time, oldest first: a year of them need not be held.
using SampleVisitor = std::function<void(const HistorySample&)>;

// The figures of one charge statistics block, as numbers.
struct DischargeRecord {
    double start = 0; // wall clock, seconds since 1970
    double end = 0;
    double awakeSeconds = 0;
    double totalSeconds = 0;
    double chargeAtStart = 0; // fractions of full
    double chargeAtEnd = 0;
    double usedInSleep = 0;
    double extrapolatedSeconds = 0;             // with sleep
    double extrapolatedWithoutSleepSeconds = 0; // awake only
    double averageMA = 0;                       // average consumption
};

} // namespace drainwatch
