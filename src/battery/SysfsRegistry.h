// SPDX-License-Identifier: MIT
#pragma once

#include "battery/RegistrySource.h"
#include "battery/SysfsEnergy.h"
#include "battery/SysfsScan.h"
#include "measure/Clock.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace drainwatch {

// The battery service read from /sys/class/power_supply (or a folder laid out
// like it). All system batteries answer as one entry: their energies add up,
// and the keys give them in mAh at the first battery's voltage. The entry
// exists while the folder does, with or without a battery: a charger is
// reported alone, and a battery that comes later is found.
class SysfsRegistry final : public RegistrySource {
public:
    static constexpr RegistryHandle kEntry = 1;

    SysfsRegistry(std::filesystem::path folder, const Clock& clock);

    // $DRAINWATCH_POWER_SUPPLY_DIR when set, else /sys/class/power_supply.
    static std::filesystem::path defaultFolder();

    RegistryHandle matchingService(std::string_view serviceName) override;
    std::optional<RegistryProperty> property(RegistryHandle entry, std::string_view key) override;
    IOReturn release(RegistryHandle entry) override;

    // When every battery reports energy (µWh) rather than charge: the two
    // capacities as the driver gives them, before any conversion to mAh.
    std::optional<EnergyCapacity> energyCapacity();

    // A line for each battery found: its folder, status and units, and its
    // charge limit where the driver gives one; empty without a battery.
    std::string batteriesText();

private:
    std::optional<bool> externalConnected();
    std::optional<bool> anyBatteryCharging();
    std::optional<bool> allBatteriesFull();

    const Clock* clock_;
    sysfs::SupplyScan supplies_;
    int references_ = 0;
};

} // namespace drainwatch
