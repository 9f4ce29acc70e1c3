#include "battery/BatteryListener.h"

namespace drainwatch {

namespace {

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
    // Negating 0 gives -0, which printf shows as "-0.0": an idle battery reads 0.
    return current == 0.0 ? 0.0 : current;
}

std::optional<double> BatteryListener::chargePercentage() const
{
    const auto current = batt.currentCapacity();
    return fraction(current, batt.maxCapactiy());
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

} // namespace drainwatch
