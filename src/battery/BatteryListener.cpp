// SPDX-License-Identifier: MIT
#include "battery/BatteryListener.h"

#include <cmath>

namespace drainwatch {

namespace {

// No laptop battery gives or takes 100 A; more is a misread, such as a small
// negative current read as unsigned (4293 A). It would stay in the averages.
constexpr double kMostCurrentMA = 100000;
// A battery holds a little more than its last full charge at times (that
// capacity is learned), never half as much again: more is a misread, and
// would pass for a charger and restart the count.
constexpr double kMostCharge = 1.5;

std::optional<double> asDouble(std::optional<std::int64_t> value)
{
    if (!value)
        return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> fraction(std::optional<std::int64_t> part, std::optional<std::int64_t> whole)
{
    if (!part || !whole || *whole <= 0)
        return std::nullopt;
    return static_cast<double>(*part) / static_cast<double>(*whole);
}

} // namespace

BatteryListener::BatteryListener(RegistrySource& source) : batt(source) { (void)batt.open(); }

BatteryListener::~BatteryListener() { (void)batt.close(); }

std::optional<double> BatteryListener::amperage() const
{
    const auto value = batt.amperage();
    if (!value)
        return std::nullopt;
    const double current = -static_cast<double>(*value);
    if (std::fabs(current) > kMostCurrentMA)
        return std::nullopt;
    // Negating 0 gives -0, which printf shows as "-0.0": an idle battery reads 0.
    return current == 0.0 ? 0.0 : current;
}

std::optional<double> BatteryListener::chargePercentage() const
{
    const auto charge = fraction(batt.currentCapacity(), batt.maxCapactiy());
    if (charge && !(*charge >= 0 && *charge <= kMostCharge))
        return std::nullopt;
    return charge;
}

std::optional<double> BatteryListener::designCapacityMAh() const { return asDouble(batt.designCapacity()); }

std::optional<double> BatteryListener::healthPercentage() const
{
    const auto maximum = batt.maxCapactiy();
    return fraction(maximum, batt.designCapacity());
}

std::optional<double> BatteryListener::maxCapacityMAh() const { return asDouble(batt.maxCapactiy()); }

std::optional<bool> BatteryListener::isCharging() const { return batt.isACPowered(); }

std::optional<double> BatteryListener::voltage() const
{
    const auto millivolts = batt.voltage();
    if (!millivolts)
        return std::nullopt;
    return static_cast<double>(*millivolts) / 1000;
}

std::optional<double> BatteryListener::powerVoltage() const
{
    const auto millivolts = batt.powerVoltage();
    if (!millivolts || *millivolts <= 0)
        return voltage();
    return static_cast<double>(*millivolts) / 1000;
}

} // namespace drainwatch
