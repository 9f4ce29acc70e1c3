// SPDX-License-Identifier: MIT
#pragma once

#include "battery/Battery.h"

#include <optional>

namespace drainwatch {

// The battery in the units the monitor works in: current in mA positive while
// discharging, charge and health as fractions, capacities in mAh, volts.
// Each metric is empty when a read it needs has no value, and the two
// fractions also when their divisor is not above 0: the monitor never sees
// an infinity or a NaN. A charge below 0 or above 150 % and a current above
// 100 A are misreads, and empty too.
class BatteryListener {
public:
    explicit BatteryListener(RegistrySource& source);
    ~BatteryListener();
    BatteryListener(const BatteryListener&) = delete;
    BatteryListener& operator=(const BatteryListener&) = delete;

    std::optional<double> amperage() const;
    std::optional<double> chargePercentage() const;
    std::optional<double> designCapacityMAh() const;
    std::optional<double> healthPercentage() const;
    std::optional<double> maxCapacityMAh() const;
    // External power connected, whether or not the battery takes charge.
    std::optional<bool> isCharging() const;
    std::optional<double> voltage() const;
    // Volts that turn amperage() into watts: the source's own figure where
    // it gives one above 0, else voltage().
    std::optional<double> powerVoltage() const;

    Battery batt;
};

} // namespace drainwatch
