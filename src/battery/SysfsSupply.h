// SPDX-License-Identifier: MIT
#pragma once

#include "battery/ChargeTrend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drainwatch::sysfs {

enum class Status { Charging, Discharging, Full, NotCharging, Unknown };
// µAh or µWh, as the driver counts.
enum class Units { Charge, Energy };

// One supply of /sys/class/power_supply, read an attribute at a time, and
// what is known of it while it stays.
struct Supply {
    std::optional<std::string> text(std::string_view attribute);
    std::optional<std::int64_t> number(std::string_view attribute);
    std::optional<Status> status();
    // Whether the attribute's file exists, without reading it.
    bool has(const char* attribute) const;

    std::string name;
    std::string folder; // ends in '/'
    // Attributes this driver does not have: asked once per scan only.
    std::vector<std::string_view> absent;
    // A read found the supply itself gone: it wants looking for again.
    bool gone = false;
    std::optional<Units> units;
    // µV: the one voltage between this battery's charge and its energy,
    // kept while the battery stays, so that a sag never reads as a drain.
    std::optional<double> voltage;
    ChargeTrend trend;
};

// A negative amount of stored charge or a voltage of 0 is a firmware fault;
// passing it on would give negative capacities or a division by zero.
std::optional<double> positive(std::optional<std::int64_t> value);
std::optional<double> notNegative(std::optional<std::int64_t> value);

// Whole percent at which the charger stops (charge_control_end_threshold);
// 100, or a value no limit can be, is no limit.
std::optional<double> chargeLimit(Supply& battery);

} // namespace drainwatch::sysfs
