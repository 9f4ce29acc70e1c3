// SPDX-License-Identifier: MIT
#include "battery/SysfsRegistry.h"

#include "battery/Battery.h"
#include "battery/SysfsRate.h"

#include <cmath>
#include <cstdlib>

namespace drainwatch {

using sysfs::Status;
using sysfs::Supply;

namespace {

std::optional<RegistryProperty> whole(std::optional<double> value)
{
    if (!value || !std::isfinite(*value) || std::fabs(*value) > 9.0e18)
        return std::nullopt;
    return RegistryProperty{static_cast<std::int64_t>(std::llround(*value))};
}

std::optional<RegistryProperty> truth(std::optional<bool> value)
{
    if (!value)
        return std::nullopt;
    return RegistryProperty{*value};
}

} // namespace

SysfsRegistry::SysfsRegistry(std::filesystem::path folder, const Clock& clock)
    : clock_(&clock), supplies_(std::move(folder), clock)
{
}

std::filesystem::path SysfsRegistry::defaultFolder()
{
    const char* folder = std::getenv("DRAINWATCH_POWER_SUPPLY_DIR");
    if (folder && *folder)
        return folder;
    return "/sys/class/power_supply";
}

RegistryHandle SysfsRegistry::matchingService(std::string_view serviceName)
{
    if (serviceName != kBatteryServiceName)
        return 0;
    supplies_.scan();
    // No power supply class at all: nothing will ever show up here.
    if (!supplies_.listed())
        return 0;
    ++references_;
    return kEntry;
}

IOReturn SysfsRegistry::release(RegistryHandle entry)
{
    if (entry != kEntry || references_ == 0)
        return kIOReturnBadArgument;
    --references_;
    return kIOReturnSuccess;
}

std::optional<EnergyCapacity> SysfsRegistry::energyCapacity()
{
    supplies_.rescanIfDue();
    return sysfs::energyCapacity(supplies_.batteries);
}

std::string SysfsRegistry::batteriesText()
{
    supplies_.rescanIfDue();
    std::string lines;
    for (auto& battery : supplies_.batteries) {
        lines += battery.name + ": status " + battery.text("status").value_or("unknown") + ", counts " +
                 (sysfs::units(battery) == sysfs::Units::Charge ? "charge (µAh)" : "energy (µWh)");
        if (const auto limit = sysfs::chargeLimit(battery))
            lines += ", charge limit " + std::to_string(static_cast<int>(*limit)) + " %";
        lines += " (" + battery.folder + ")\n";
    }
    return lines;
}

std::optional<bool> SysfsRegistry::externalConnected()
{
    bool reported = false;
    for (auto& supply : supplies_.lineSupplies) {
        const auto online = supply.number("online");
        if (!online)
            continue;
        // 1 and 2 (adaptive charging) both mean online.
        if (*online != 0)
            return true;
        reported = true;
    }
    if (reported)
        return false;
    bool known = false;
    for (auto& battery : supplies_.batteries) {
        const auto state = battery.status();
        if (!state)
            continue;
        if (state == Status::Charging || state == Status::Full || state == Status::NotCharging)
            return true;
        known = true;
    }
    return known ? std::optional(false) : std::nullopt;
}

std::optional<bool> SysfsRegistry::anyBatteryCharging()
{
    bool unknown = false;
    for (auto& battery : supplies_.batteries) {
        const auto state = battery.status();
        if (state == Status::Charging)
            return true;
        unknown = unknown || !state;
    }
    return unknown ? std::nullopt : std::optional(false);
}

std::optional<bool> SysfsRegistry::allBatteriesFull()
{
    bool unknown = false;
    for (auto& battery : supplies_.batteries) {
        const auto state = battery.status();
        if (state && state != Status::Full)
            return false;
        unknown = unknown || !state;
    }
    return unknown ? std::nullopt : std::optional(true);
}

std::optional<RegistryProperty> SysfsRegistry::property(RegistryHandle entry, std::string_view key)
{
    if (entry != kEntry || references_ == 0)
        return std::nullopt;
    const auto which = Battery::keyFromRawValue(key);
    if (!which)
        return std::nullopt;
    supplies_.rescanIfDue();
    auto& batteries = supplies_.batteries;
    // For a battery whose status does not say whether a charger is in.
    const sysfs::ExternalPower external = [this] { return externalConnected(); };
    // A charger is known without a battery.
    if (*which == Battery::Key::ACPowered)
        return truth(externalConnected());
    if (batteries.empty())
        return std::nullopt;
    Supply& first = batteries.front();
    switch (*which) {
    case Battery::Key::ACPowered:
        break;
    case Battery::Key::Amperage:
        return whole(sysfs::inKeyUnits(batteries, sysfs::totalPower(batteries, *clock_, external)));
    case Battery::Key::CurrentCapacity:
        return whole(sysfs::inKeyUnits(batteries, sysfs::totalEnergy(batteries, "charge_now", "energy_now")));
    case Battery::Key::MaxCapacity:
        return whole(sysfs::inKeyUnits(batteries, sysfs::totalEnergy(batteries, "charge_full", "energy_full")));
    case Battery::Key::DesignCapacity:
        return whole(
            sysfs::inKeyUnits(batteries, sysfs::totalEnergy(batteries, "charge_full_design", "energy_full_design")));
    case Battery::Key::CycleCount:
        // 0 is the kernel's "not known"; a negative count is garbage.
        return whole(sysfs::positive(first.number("cycle_count")));
    case Battery::Key::DesignCycleCount:
        return std::nullopt;
    case Battery::Key::FullyCharged:
        return truth(allBatteriesFull());
    case Battery::Key::IsCharging:
        return truth(anyBatteryCharging());
    case Battery::Key::Temperature: {
        const auto tenths = first.number("temp");
        return tenths ? whole(static_cast<double>(*tenths) * 10) : std::nullopt;
    }
    case Battery::Key::TimeRemaining:
        return whole(sysfs::minutesRemaining(batteries, *clock_, external));
    case Battery::Key::Voltage: {
        const auto microvolts = sysfs::positive(first.number("voltage_now"));
        return microvolts ? whole(*microvolts / 1000) : std::nullopt;
    }
    case Battery::Key::PowerVoltage:
        return whole(sysfs::powerVoltage(batteries, *clock_, external));
    case Battery::Key::ChargeLimit: {
        const auto limit = sysfs::chargeLimit(first);
        return limit ? whole(*limit) : std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace drainwatch
