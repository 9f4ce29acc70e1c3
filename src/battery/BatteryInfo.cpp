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
    case Key::ChargeLimit:
        return shown(battery.chargeLimit());
    case Key::PowerVoltage:
        return shown(battery.powerVoltage());
    }
    return std::string(kNone);
}

// What a figure counts in, or what a truth value means, after the value.
std::string_view keyMeaning(Battery::Key key)
{
    using Key = Battery::Key;
    switch (key) {
    case Key::ACPowered:
        return " (the charger is in)";
    case Key::Amperage:
        return " mA (below 0 while discharging)";
    case Key::CurrentCapacity:
    case Key::DesignCapacity:
    case Key::MaxCapacity:
        return " mAh";
    case Key::FullyCharged:
        return " (the battery is full)";
    case Key::IsCharging:
        return " (charge flows into the battery)";
    case Key::Temperature:
        return " °C";
    case Key::TimeRemaining:
        return " min";
    case Key::Voltage:
        return " mV";
    case Key::ChargeLimit:
        return " % (the charger stops there)";
    case Key::PowerVoltage:
        return " mV (Amperage times it is the battery's power)";
    case Key::CycleCount:
    case Key::DesignCycleCount:
        break;
    }
    return {};
}

std::string line(std::string_view name, const std::string& value, std::string_view meaning)
{
    return fmt::format("{}: {}{}\n", name, value, value == kNone ? std::string_view() : meaning);
}

} // namespace

std::string batteryInfoText(const BatteryListener& listener)
{
    std::string text;
    for (int i = 0; i < Battery::keyCount; ++i) {
        const auto key = static_cast<Battery::Key>(i);
        text += line(Battery::rawValue(key), keyValue(listener.batt, key), keyMeaning(key));
    }
    text += line("amperage", shown(listener.amperage()), " mA (below 0 while charging)");
    text += line("chargePercentage", shown(listener.chargePercentage()), " (of the full charge)");
    text += line("designCapacityMAh", shown(listener.designCapacityMAh()), " mAh");
    text += line("healthPercentage", shown(listener.healthPercentage()), " (of the design capacity)");
    text += line("maxCapacityMAh", shown(listener.maxCapacityMAh()), " mAh");
    text += line("isCharging", shown(listener.isCharging()), " (the charger is in)");
    text += line("voltage", shown(listener.voltage()), " V");
    text += line("powerVoltage", shown(listener.powerVoltage()), " V (for watts)");
    return text;
}

} // namespace drainwatch
