#pragma once

#include <optional>

namespace drainwatch {

// The rate of change of a battery's charge, from successive readings of it,
// for firmware that reports no current or power of its own (as UPower does).
class ChargeTrend {
public:
    static constexpr double kMinimumSpan = 15;
    // Longer than this between two readings: the machine slept or the clock
    // was set, and the fall in between is no drain rate.
    static constexpr double kLongestGap = 120;

    // mA, negative while the charge falls; nothing until two readings lie
    // kMinimumSpan seconds apart.
    std::optional<double> update(double now, std::optional<double> chargeMAh)
    {
        if (!chargeMAh)
            return std::nullopt;
        if (!baselineTime_ || now < lastReading_ || now - lastReading_ > kLongestGap) {
            baselineTime_ = now;
            baselineCharge_ = *chargeMAh;
            lastReading_ = now;
            rate_.reset();
            return std::nullopt;
        }
        lastReading_ = now;
        // Firmware refreshes the charge in steps: an unchanged value is no news,
        // and a rate taken across it would read 0 and then twice the truth.
        if (*chargeMAh == baselineCharge_ || now - *baselineTime_ < kMinimumSpan)
            return rate_;
        rate_ = (*chargeMAh - baselineCharge_) / ((now - *baselineTime_) / 3600);
        baselineTime_ = now;
        baselineCharge_ = *chargeMAh;
        return rate_;
    }

private:
    std::optional<double> baselineTime_;
    double baselineCharge_ = 0;
    double lastReading_ = 0;
    std::optional<double> rate_;
};

} // namespace drainwatch
