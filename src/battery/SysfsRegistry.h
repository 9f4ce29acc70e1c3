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
// like it). All system batteries answer as one entry.
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

private:
    enum class Status { Charging, Discharging, Full, NotCharging, Unknown };

    struct Supply {
        std::string name;
        std::string folder; // ends in '/'
        // Attributes this driver does not have: asked once per scan only.
        std::vector<std::string_view> absent;
        std::optional<double> designVoltage;
        ChargeTrend trend;
    };

    void scan();
    std::optional<std::string> text(Supply& supply, std::string_view attribute);
    std::optional<std::int64_t> number(Supply& supply, std::string_view attribute);
    std::optional<Status> status(Supply& battery);

    std::optional<double> conversionVoltage(Supply& battery);
    std::optional<double> capacityMAh(Supply& battery, std::string_view charge, std::string_view energy);
    std::optional<double> totalCapacityMAh(std::string_view charge, std::string_view energy);
    std::optional<double> amperageMA(Supply& battery);
    std::optional<double> totalAmperageMA();
    std::optional<double> minutesRemaining();
    std::optional<bool> externalConnected();
    std::optional<bool> anyBatteryCharging();
    std::optional<bool> allBatteriesFull();

    std::filesystem::path folder_;
    const Clock* clock_;
    std::vector<Supply> batteries_;
    std::vector<Supply> lineSupplies_;
    bool rescanDue_ = false;
    int references_ = 0;
};

} // namespace drainwatch
