// SPDX-License-Identifier: MIT
#include "battery/BatteryInfo.h"

#include <cmath>
#include <cstdint>
#include <string>

#include <fmt/format.h>
#include <fmt/printf.h>

namespace drainwatch {

namespace {

constexpr std::string_view kNone = "(none)";

std::string shown(std::optional<std::int64_t> value) { return value ? fmt::format("{}", *value) : std::string(kNone); }

std::string shown(std::optional<bool> value)
{
    if (!value)
        return std::string(kNone);
    return *value ? "true" : "false";
}

std::string shown(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return std::string(kNone);
    return fmt::sprintf("%g", *value);
}

std::string keyValue(const Battery& battery, Battery::Key key)
{
    using Key = Battery::Key;
    switch (key) {
    case Key::ACPowered:
        return shown(battery.isACPowered());
    case Key::Amperage:
        return shown(battery.amperage());
    case Key::CurrentCapacity:
        return shown(battery.currentCapacity());
    case Key::CycleCount:
        return shown(battery.cycleCount());
    case Key::DesignCapacity:
        return shown(battery.designCapacity());
    case Key::DesignCycleCount:
        return shown(battery.designCycleCount());
    case Key::FullyCharged:
        return shown(battery.isCharged());
    case Key::IsCharging:
        return shown(battery.isCharging());
    case Key::MaxCapacity:
        return shown(battery.maxCapactiy());
    case Key::Temperature:
        return shown(battery.temperature(Battery::TemperatureUnit::Celsius));
    case Key::TimeRemaining:
        return shown(battery.timeRemaining());
    case Key::Voltage:
        return shown(battery.voltage());
    }
    return std::string(kNone);
}

} // namespace

std::string batteryInfoText(const BatteryListener& listener)
{
    std::string text;
    for (int i = 0; i < Battery::keyCount; ++i) {
        const auto key = static_cast<Battery::Key>(i);
        text += fmt::format("{}: {}\n", Battery::rawValue(key), keyValue(listener.batt, key));
    }
    // Only where the source has a figure of its own for watts: elsewhere the
    // voltage is that figure, and the printout stays as it was.
    const auto powerVoltage = listener.batt.powerVoltage();
    if (powerVoltage)
        text += fmt::format("{}: {}\n", Battery::kPowerVoltageKey, *powerVoltage);
    text += fmt::format("amperage: {}\n", shown(listener.amperage()));
    text += fmt::format("chargePercentage: {}\n", shown(listener.chargePercentage()));
    text += fmt::format("designCapacityMAh: {}\n", shown(listener.designCapacityMAh()));
    text += fmt::format("healthPercentage: {}\n", shown(listener.healthPercentage()));
    text += fmt::format("maxCapacityMAh: {}\n", shown(listener.maxCapacityMAh()));
    text += fmt::format("isCharging: {}\n", shown(listener.isCharging()));
    text += fmt::format("voltage: {}\n", shown(listener.voltage()));
    if (powerVoltage)
        text += fmt::format("powerVoltage: {}\n", shown(listener.powerVoltage()));
    return text;
}

} // namespace drainwatch
