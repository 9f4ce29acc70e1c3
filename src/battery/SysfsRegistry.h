// SPDX-License-Identifier: MIT
#pragma once

#include "battery/ChargeTrend.h"
#include "battery/RegistrySource.h"
#include "measure/Clock.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drainwatch {

// Full-charge and design capacity of batteries that count in energy.
struct EnergyCapacity {
    double fullWh = 0;
    double designWh = 0;
};

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
    enum class Status { Charging, Discharging, Full, NotCharging, Unknown };
    // µAh or µWh, as the driver counts.
    enum class Units { Charge, Energy };

    struct Supply {
        std::string name;
        std::string folder; // ends in '/'
        // Attributes this driver does not have: asked once per scan only.
        std::vector<std::string_view> absent;
        std::optional<Units> units;
        // µV: the one voltage between this battery's charge and its energy,
        // kept while the battery stays, so that a sag never reads as a drain.
        std::optional<double> voltage;
        ChargeTrend trend;
    };

    void scan();
    void rescanIfDue();
    std::vector<std::string> supplyNames(bool& listed) const;
    std::optional<std::string> text(Supply& supply, std::string_view attribute);
    std::optional<std::int64_t> number(Supply& supply, std::string_view attribute);
    std::optional<Status> status(Supply& battery);

    Units units(Supply& battery);
    std::optional<double> fixedVoltage(Supply& battery);
    std::optional<double> conversionVoltage(Supply& battery);
    std::optional<double> liveVoltage(Supply& battery);
    std::optional<double> toEnergy(Supply& battery, std::optional<double> amount);
    std::optional<double> batteryEnergy(Supply& battery, std::string_view charge, std::string_view energy);
    std::optional<double> totalEnergy(std::string_view charge, std::string_view energy);
    std::optional<double> power(Supply& battery);
    std::optional<double> totalPower();
    std::optional<double> inKeyUnits(std::optional<double> micro);
    std::optional<double> minutesRemaining();
    std::optional<double> kernelMinutesRemaining();
    std::optional<double> chargeLimit(Supply& battery);
    std::optional<bool> externalConnected();
    std::optional<bool> anyBatteryCharging();
    std::optional<bool> allBatteriesFull();

    std::filesystem::path folder_;
    const Clock* clock_;
    std::vector<Supply> batteries_;
    std::vector<Supply> lineSupplies_;
    // Every entry of the folder at the last scan, sorted: a change means a
    // supply came or went.
    std::vector<std::string> names_;
    bool folderListed_ = false;
    // A battery out of its bay at the last scan: its folder stays when it is put in.
    bool batteryOut_ = false;
    double lastLook_ = 0;
    bool rescanDue_ = false;
    int references_ = 0;
};

} // namespace drainwatch
