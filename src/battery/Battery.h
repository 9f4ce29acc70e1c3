// SPDX-License-Identifier: MIT
#pragma once

#include "battery/RegistrySource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace drainwatch {

// A handle on the battery's registry entry and typed reads of its
// properties. Nothing is cached: every accessor asks the source again. An
// accessor whose read has no value returns an empty optional.
class Battery {
public:
    enum class Key {
        ACPowered,
        Amperage,
        CurrentCapacity,
        CycleCount,
        DesignCapacity,
        DesignCycleCount,
        FullyCharged,
        IsCharging,
        MaxCapacity,
        Temperature,
        TimeRemaining,
        Voltage,
        // Whole percent at which the charger stops (charge_control_end_threshold).
        ChargeLimit,
        // mV at which Amperage's mA are the power that flows (mW = mA × mV /
        // 1000). A source whose mA are not at Voltage's volts gives it;
        // without it, Voltage's volts are those.
        PowerVoltage,
    };
    static constexpr int keyCount = 14;
    enum class TemperatureUnit { Celsius, Fahrenheit, Kelvin };

    static std::string_view rawValue(Key key);
    static std::optional<Key> keyFromRawValue(std::string_view raw);

    explicit Battery(RegistrySource& source) : source_(&source) {}

    IOReturn open();
    IOReturn close();

    std::optional<std::int64_t> amperage() const { return integer(Key::Amperage); }
    std::optional<std::int64_t> currentCapacity() const { return integer(Key::CurrentCapacity); }
    std::optional<std::int64_t> maxCapactiy() const { return integer(Key::MaxCapacity); }
    std::optional<std::int64_t> designCapacity() const { return integer(Key::DesignCapacity); }
    std::optional<std::int64_t> cycleCount() const { return integer(Key::CycleCount); }
    std::optional<std::int64_t> designCycleCount() const { return integer(Key::DesignCycleCount); }
    std::optional<std::int64_t> timeRemaining() const { return integer(Key::TimeRemaining); }
    std::optional<std::int64_t> voltage() const { return integer(Key::Voltage); }
    std::optional<std::int64_t> powerVoltage() const { return integer(Key::PowerVoltage); }
    std::optional<std::int64_t> chargeLimit() const { return integer(Key::ChargeLimit); }
    std::optional<bool> isACPowered() const { return boolean(Key::ACPowered); }
    std::optional<bool> isCharging() const { return boolean(Key::IsCharging); }
    std::optional<bool> isCharged() const { return boolean(Key::FullyCharged); }

    // Whole percent, floored, not clamped; infinite or NaN with a capacity of 0.
    std::optional<double> charge() const;
    // "%d:%02d" of hours and minutes.
    std::optional<std::string> timeRemainingFormatted() const;
    // Rounded up after the conversion.
    std::optional<double> temperature(TemperatureUnit unit = TemperatureUnit::Celsius) const;

    std::optional<std::int64_t> integer(Key key) const;
    std::optional<bool> boolean(Key key) const;
    std::optional<double> real(Key key) const;

    RegistryHandle service = 0;

private:
    std::optional<RegistryProperty> read(Key key) const { return read(rawValue(key)); }
    std::optional<RegistryProperty> read(std::string_view key) const;

    RegistrySource* source_;
};

} // namespace drainwatch
