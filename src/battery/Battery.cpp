// SPDX-License-Identifier: MIT
#include "battery/Battery.h"

#include <array>
#include <cmath>

#include <fmt/printf.h>

namespace drainwatch {

namespace {

constexpr std::array<std::string_view, Battery::keyCount> kRawValues = {
    "ExternalConnected",  "Amperage",     "CurrentCapacity", "CycleCount",   "DesignCapacity",
    "DesignCycleCount9C", "FullyCharged", "IsCharging",      "MaxCapacity",  "Temperature",
    "TimeRemaining",      "Voltage",      "ChargeLimit",     "PowerVoltage",
};

// Numbers and truth values convert to each other; text converts to nothing.
struct ToInteger {
    std::optional<std::int64_t> operator()(std::int64_t v) const { return v; }
    std::optional<std::int64_t> operator()(bool v) const { return v ? 1 : 0; }
    std::optional<std::int64_t> operator()(double v) const
    {
        if (!std::isfinite(v) || std::fabs(v) >= 9.2e18)
            return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    std::optional<std::int64_t> operator()(const std::string&) const { return std::nullopt; }
};

struct ToDouble {
    std::optional<double> operator()(std::int64_t v) const { return static_cast<double>(v); }
    std::optional<double> operator()(bool v) const { return v ? 1.0 : 0.0; }
    std::optional<double> operator()(double v) const { return v; }
    std::optional<double> operator()(const std::string&) const { return std::nullopt; }
};

} // namespace

std::string_view Battery::rawValue(Key key) { return kRawValues[static_cast<std::size_t>(key)]; }

std::optional<Battery::Key> Battery::keyFromRawValue(std::string_view raw)
{
    for (std::size_t i = 0; i < kRawValues.size(); ++i)
        if (kRawValues[i] == raw)
            return static_cast<Key>(i);
    return std::nullopt;
}

IOReturn Battery::open()
{
    if (service != 0)
        return kIOReturnStillOpen;
    service = source_->matchingService(kBatteryServiceName);
    return service != 0 ? kIOReturnSuccess : kIOReturnNotFound;
}

IOReturn Battery::close()
{
    const IOReturn code = source_->release(service);
    service = 0;
    return code;
}

std::optional<RegistryProperty> Battery::read(std::string_view key) const { return source_->property(service, key); }

std::optional<std::int64_t> Battery::integer(Key key) const
{
    const auto value = read(key);
    return value ? std::visit(ToInteger{}, *value) : std::nullopt;
}

std::optional<bool> Battery::boolean(Key key) const
{
    const auto value = read(key);
    if (!value)
        return std::nullopt;
    const auto number = std::visit(ToDouble{}, *value);
    if (!number)
        return std::nullopt;
    return *number != 0.0;
}

std::optional<double> Battery::real(Key key) const
{
    const auto value = read(key);
    return value ? std::visit(ToDouble{}, *value) : std::nullopt;
}

std::optional<double> Battery::charge() const
{
    const auto current = currentCapacity();
    const auto maximum = maxCapactiy();
    if (!current || !maximum)
        return std::nullopt;
    return std::floor((static_cast<double>(*current) / static_cast<double>(*maximum)) * 100);
}

std::optional<std::string> Battery::timeRemainingFormatted() const
{
    const auto minutes = timeRemaining();
    if (!minutes)
        return std::nullopt;
    const std::int64_t hours = *minutes / 60;
    return fmt::sprintf("%d:%02d", hours, *minutes - 60 * hours);
}

std::optional<double> Battery::temperature(TemperatureUnit unit) const
{
    const auto raw = real(Key::Temperature);
    if (!raw)
        return std::nullopt;
    double value = *raw / 100;
    switch (unit) {
    case TemperatureUnit::Celsius:
        break;
    case TemperatureUnit::Fahrenheit:
        value = value * 1.8 + 32;
        break;
    case TemperatureUnit::Kelvin:
        value = value + 273.15;
        break;
    }
    return std::ceil(value);
}

} // namespace drainwatch
