// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

namespace drainwatch {

// The rate of change of a battery's charge or energy, from successive
// readings of it, for firmware that reports no current or power of its own
// (as UPower does). Taken on what the firmware counts, never on a value
// converted with a voltage that moves.
class ChargeTrend {
public:
    // Two of the monitor's 5-second ticks, less a timer's slack (its first
    // tick comes a little less than 5 s after the first reading): the first
    // rate comes with the third reading.
    static constexpr double kMinimumSpan = 9;
    // Longer than this between two readings: the machine slept or the clock
    // was set, and the fall in between is no drain rate.
    static constexpr double kLongestGap = 120;

    // Per hour in the amount's unit (µAh gives µA), negative while it falls;
    // nothing until two readings lie kMinimumSpan seconds apart.
    std::optional<double> update(double now, std::optional<double> amount)
    {
        if (!amount)
            return std::nullopt;
        if (!baselineTime_ || now < lastReading_ || now - lastReading_ > kLongestGap) {
            baselineTime_ = now;
            baselineAmount_ = *amount;
            lastReading_ = now;
            rate_.reset();
            return std::nullopt;
        }
        lastReading_ = now;
        // Firmware refreshes the charge in steps: an unchanged value is no news,
        // and a rate taken across it would read 0 and then twice the truth.
        if (*amount == baselineAmount_ || now - *baselineTime_ < kMinimumSpan)
            return rate_;
        rate_ = (*amount - baselineAmount_) / ((now - *baselineTime_) / 3600);
        baselineTime_ = now;
        baselineAmount_ = *amount;
        return rate_;
    }

private:
    std::optional<double> baselineTime_;
    double baselineAmount_ = 0;
    double lastReading_ = 0;
    std::optional<double> rate_;
};

} // namespace drainwatch
