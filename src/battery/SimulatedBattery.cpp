// SPDX-License-Identifier: MIT
#include "battery/SimulatedBattery.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace drainwatch {

namespace {

constexpr RegistryHandle kEntry = 1;
constexpr double kMeanMA = 1150;
constexpr double kSwingMA = 250;
constexpr double kPeriodSeconds = 420;
constexpr double kSleepMA = 60;
constexpr double kChargeMA = 2200;
constexpr double kPlugInAt = 0.10;
constexpr double kUnplugAt = 0.95;
// Readings come every 5 seconds; a longer silence is a suspend.
constexpr double kLongestAwakeGap = 30;
// Beside the monitor's keys, in the simulated battery's own store.
const std::string kChargeKey = "simulatedBattery.chargeMAh";
const std::string kChargingKey = "simulatedBattery.charging";
const std::string kReadAtKey = "simulatedBattery.readAt";

} // namespace

SimulatedBattery::SimulatedBattery(const Clock& clock, PreferenceStore* store)
    : clock_(clock), store_(store), start_(clock.now()), last_(start_), currentMA_(awakeCurrentMA(0))
{
    if (!store_ || !(store_->doubleForKey(kReadAtKey) > 0))
        return;
    const double charge = store_->doubleForKey(kChargeKey);
    if (!(charge >= 0 && charge <= kFullMAh))
        return;
    chargeMAh_ = charge;
    charging_ = store_->integerForKey(kChargingKey) != 0;
    currentMA_ = charging_ ? -kChargeMA : currentMA_;
    // A wall clock set back since then: no time has passed.
    last_ = std::min(store_->doubleForKey(kReadAtKey), start_);
}

double SimulatedBattery::awakeCurrentMA(double secondsSinceStart)
{
    return kMeanMA + kSwingMA * std::sin(2 * std::numbers::pi * secondsSinceStart / kPeriodSeconds);
}

// The integral of awakeCurrentMA over [from, to], in mAh.
double SimulatedBattery::dischargedMAh(double from, double to) const
{
    const double w = 2 * std::numbers::pi / kPeriodSeconds;
    const double milliampSeconds = kMeanMA * (to - from) + kSwingMA / w * (std::cos(w * from) - std::cos(w * to));
    return milliampSeconds / 3600;
}

void SimulatedBattery::advance()
{
    const double now = clock_.now();
    const double gap = now - last_;
    if (!(gap > 0))
        return;
    const double from = last_ - start_;
    const double to = now - start_;
    last_ = now;

    if (charging_)
        chargeMAh_ += kChargeMA * gap / 3600;
    else if (gap > kLongestAwakeGap)
        chargeMAh_ -= kSleepMA * gap / 3600;
    else
        chargeMAh_ -= dischargedMAh(from, to);
    chargeMAh_ = std::clamp(chargeMAh_, 0.0, kFullMAh);

    if (!charging_ && chargeMAh_ <= kPlugInAt * kFullMAh)
        charging_ = true;
    else if (charging_ && chargeMAh_ >= kUnplugAt * kFullMAh)
        charging_ = false;
    currentMA_ = charging_ ? -kChargeMA : awakeCurrentMA(to);
    if (store_) {
        store_->setDouble(chargeMAh_, kChargeKey);
        store_->setInteger(charging_ ? 1 : 0, kChargingKey);
        store_->setDouble(last_, kReadAtKey);
    }
}

RegistryHandle SimulatedBattery::matchingService(std::string_view serviceName)
{
    return serviceName == kBatteryServiceName ? kEntry : 0;
}

std::optional<RegistryProperty> SimulatedBattery::property(RegistryHandle entry, std::string_view key)
{
    if (entry != kEntry)
        return std::nullopt;
    advance();
    const double fraction = chargeMAh_ / kFullMAh;
    const auto whole = [](double value) { return static_cast<std::int64_t>(std::lround(value)); };
    if (key == "ExternalConnected" || key == "IsCharging")
        return charging_;
    if (key == "FullyCharged")
        return false;
    // The registry's sign: negative while the battery discharges.
    if (key == "Amperage")
        return whole(-currentMA_);
    if (key == "CurrentCapacity")
        return whole(chargeMAh_);
    if (key == "MaxCapacity")
        return whole(kFullMAh);
    if (key == "DesignCapacity")
        return whole(kDesignMAh);
    if (key == "Voltage")
        return whole(11400 + 1200 * fraction);
    if (key == "CycleCount")
        return std::int64_t{212};
    if (key == "DesignCycleCount9C")
        return std::int64_t{1000};
    if (key == "Temperature")
        return std::int64_t{3120};
    if (key == "TimeRemaining")
        return charging_ ? whole((kFullMAh - chargeMAh_) / kChargeMA * 60) : whole(chargeMAh_ / currentMA_ * 60);
    return std::nullopt;
}

IOReturn SimulatedBattery::release(RegistryHandle entry)
{
    return entry == kEntry ? kIOReturnSuccess : kIOReturnBadArgument;
}

} // namespace drainwatch
