// SPDX-License-Identifier: MIT
#include "battery/SysfsRegistry.h"

#include "battery/Battery.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace drainwatch {

namespace {

// Longer than any value sysfs prints for these attributes.
constexpr std::size_t kLongestValue = 127;
// Batteries come without notice. With none, the folder is listed at most once
// a second (once a tick); with some, once a minute, for another one.
constexpr double kLookWithoutBattery = 1;
constexpr double kLookForAnother = 60;
// µV between charge and energy for a battery that gives no voltage at all
// (UPower's choice). One battery's figures do not depend on it.
constexpr double kAssumedVoltage = 10e6;

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// One open, one read, one close: a tick should cost little more than the
// values it reads. O_NONBLOCK keeps a FIFO from hanging the reader; a folder
// fails the read with EISDIR. `error` is errno of the open, 0 otherwise.
std::optional<std::string> readValue(const std::string& path, int& error)
{
    error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    char buffer[kLongestValue + 1];
    ssize_t count;
    do
        count = ::read(fd, buffer, sizeof buffer);
    while (count < 0 && errno == EINTR);
    ::close(fd);
    // Failed (sysfs gives EIO or ENODATA at times), empty, or too long to be a value.
    if (count <= 0 || static_cast<std::size_t>(count) > kLongestValue)
        return std::nullopt;
    std::string_view value(buffer, static_cast<std::size_t>(count));
    while (!value.empty() && isSpace(value.back()))
        value.remove_suffix(1);
    while (!value.empty() && isSpace(value.front()))
        value.remove_prefix(1);
    if (value.empty())
        return std::nullopt;
    return std::string(value);
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A negative amount of stored charge or a voltage of 0 is a firmware fault;
// passing it on would give negative capacities or a division by zero.
std::optional<double> positive(std::optional<std::int64_t> value)
{
    if (!value || *value <= 0)
        return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> notNegative(std::optional<std::int64_t> value)
{
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<double>(*value);
}

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
    : folder_(std::move(folder)), clock_(&clock)
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
    scan();
    // No power supply class at all: nothing will ever show up here.
    if (!folderListed_)
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

// The entries' names only, sorted: no attribute is read.
std::vector<std::string> SysfsRegistry::supplyNames(bool& listed) const
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder_, error);
    listed = !error;
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        names.push_back(entry->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void SysfsRegistry::scan()
{
    rescanDue_ = false;
    batteryOut_ = false;
    lastLook_ = clock_->now();
    names_ = supplyNames(folderListed_);
    std::vector<Supply> batteries;
    std::vector<Supply> lineSupplies;
    for (const auto& name : names_) {
        Supply supply;
        supply.name = name;
        supply.folder = (folder_ / name).string() + '/';
        // Entries are symbolic links into /sys/devices: follow them.
        std::error_code notDirectory;
        if (!std::filesystem::is_directory(supply.folder, notDirectory))
            continue;
        const auto type = text(supply, "type");
        // Mice, keyboards and headsets report their own batteries and chargers.
        if (!type || text(supply, "scope") == "Device")
            continue;
        if (*type == "Battery") {
            if (number(supply, "present") != 0)
                batteries.push_back(std::move(supply));
            else
                batteryOut_ = true;
        } else if (*type == "Mains" || type->starts_with("USB")) {
            // Kernels before 5.x name USB chargers USB_C, USB_PD, USB_DCP...
            lineSupplies.push_back(std::move(supply));
        }
    }
    // A charger coming or going must not throw away what is known of the batteries.
    for (auto& battery : batteries) {
        for (auto& old : batteries_)
            if (old.name == battery.name) {
                battery.units = old.units;
                battery.voltage = old.voltage;
                battery.trend = old.trend;
            }
        (void)fixedVoltage(battery);
    }
    batteries_ = std::move(batteries);
    lineSupplies_ = std::move(lineSupplies);
}

// A supply that went away is looked for again at once; a new one is found by
// a listing of the folder that differs from the last.
void SysfsRegistry::rescanIfDue()
{
    if (rescanDue_) {
        scan();
        return;
    }
    const double since = clock_->now() - lastLook_;
    if (since >= 0 && since < (batteries_.empty() ? kLookWithoutBattery : kLookForAnother))
        return;
    lastLook_ = clock_->now();
    bool listed = false;
    if (batteryOut_ || supplyNames(listed) != names_)
        scan();
}

std::optional<std::string> SysfsRegistry::text(Supply& supply, std::string_view attribute)
{
    if (std::find(supply.absent.begin(), supply.absent.end(), attribute) != supply.absent.end())
        return std::nullopt;
    int error = 0;
    auto value = readValue(supply.folder + std::string(attribute), error);
    if (error == ENOENT || error == ENOTDIR) {
        // Either the driver lacks the attribute, or the supply itself is gone.
        if (::access(supply.folder.c_str(), F_OK) == 0)
            supply.absent.push_back(attribute);
        else
            rescanDue_ = true;
    }
    return value;
}

std::optional<std::int64_t> SysfsRegistry::number(Supply& supply, std::string_view attribute)
{
    const auto value = text(supply, attribute);
    return value ? parseInteger(*value) : std::nullopt;
}

std::optional<SysfsRegistry::Status> SysfsRegistry::status(Supply& battery)
{
    const auto value = text(battery, "status");
    if (!value)
        return std::nullopt;
    if (*value == "Charging")
        return Status::Charging;
    if (*value == "Discharging")
        return Status::Discharging;
    if (*value == "Full")
        return Status::Full;
    if (*value == "Not charging")
        return Status::NotCharging;
    return Status::Unknown;
}

// Charge where the driver counts it (most ACPI batteries), else energy.
SysfsRegistry::Units SysfsRegistry::units(Supply& battery)
{
    if (!battery.units) {
        const auto has = [&](const char* attribute) {
            return ::access((battery.folder + attribute).c_str(), F_OK) == 0;
        };
        battery.units = has("charge_now") || has("charge_full") ? Units::Charge : Units::Energy;
    }
    return *battery.units;
}

// µV: the design voltage, else the voltage when the battery was found.
std::optional<double> SysfsRegistry::fixedVoltage(Supply& battery)
{
    if (!battery.voltage)
        battery.voltage = positive(number(battery, "voltage_min_design"));
    if (!battery.voltage)
        battery.voltage = positive(number(battery, "voltage_now"));
    return battery.voltage;
}

// µV: the one that turns this battery's charge into energy and back.
std::optional<double> SysfsRegistry::conversionVoltage(Supply& battery)
{
    const auto voltage = fixedVoltage(battery);
    if (!voltage && units(battery) == Units::Charge)
        return kAssumedVoltage;
    return voltage;
}

std::optional<double> SysfsRegistry::toEnergy(Supply& battery, std::optional<double> amount)
{
    if (!amount || units(battery) == Units::Energy)
        return amount;
    const auto microvolts = conversionVoltage(battery);
    return microvolts ? std::optional(*amount * *microvolts / 1e6) : std::nullopt;
}

// µWh: the firmware's energy, or its charge at the battery's one voltage.
std::optional<double> SysfsRegistry::batteryEnergy(Supply& battery, std::string_view charge, std::string_view energy)
{
    return toEnergy(battery, notNegative(number(battery, units(battery) == Units::Charge ? charge : energy)));
}

std::optional<EnergyCapacity> SysfsRegistry::energyCapacity()
{
    rescanIfDue();
    if (batteries_.empty())
        return std::nullopt;
    EnergyCapacity total;
    for (auto& battery : batteries_) {
        if (units(battery) == Units::Charge)
            return std::nullopt;
        const auto full = notNegative(number(battery, "energy_full"));
        const auto design = notNegative(number(battery, "energy_full_design"));
        if (!full || !design)
            return std::nullopt;
        total.fullWh += *full / 1e6;
        total.designWh += *design / 1e6;
    }
    return total;
}

std::optional<double> SysfsRegistry::totalEnergy(std::string_view charge, std::string_view energy)
{
    double total = 0;
    for (auto& battery : batteries_) {
        const auto value = batteryEnergy(battery, charge, energy);
        if (!value)
            return std::nullopt;
        total += *value;
    }
    return total;
}

// µW, positive while charging.
std::optional<double> SysfsRegistry::power(Supply& battery)
{
    const auto state = status(battery);
    if (state == Status::Full || state == Status::NotCharging)
        return 0.0;
    const bool countsCharge = units(battery) == Units::Charge;
    std::optional<double> magnitude;
    bool negative = false;
    // Drivers give current_now and power_now as magnitudes or signed. One
    // in the other unit than the driver counts in converts at the voltage of
    // the moment: that is what flows now.
    if (const auto microamps = number(battery, "current_now")) {
        negative = *microamps < 0;
        const auto microvolts = countsCharge ? conversionVoltage(battery) : liveVoltage(battery);
        if (microvolts)
            magnitude = std::fabs(static_cast<double>(*microamps)) * *microvolts / 1e6;
    } else if (const auto microwatts = number(battery, "power_now")) {
        const double watts = std::fabs(static_cast<double>(*microwatts));
        if (!countsCharge)
            magnitude = watts;
        else if (const auto microvolts = liveVoltage(battery))
            magnitude = toEnergy(battery, watts / *microvolts * 1e6);
    } else {
        const auto perHour = battery.trend.update(
            clock_->now(), notNegative(number(battery, countsCharge ? "charge_now" : "energy_now")));
        if (perHour) {
            magnitude = toEnergy(battery, std::fabs(*perHour));
            negative = *perHour < 0;
        }
    }
    if (!magnitude)
        return std::nullopt;
    if (negative || state == Status::Discharging)
        return -*magnitude;
    if (state == Status::Charging)
        return *magnitude;
    const auto external = externalConnected();
    if (!external)
        return std::nullopt;
    return *external ? *magnitude : -*magnitude;
}

// µV, as the battery reads now, else its fixed one.
std::optional<double> SysfsRegistry::liveVoltage(Supply& battery)
{
    if (const auto microvolts = positive(number(battery, "voltage_now")))
        return microvolts;
    return fixedVoltage(battery);
}

std::optional<double> SysfsRegistry::totalPower()
{
    // Every battery is read even when one has no value: each trend needs
    // its reading now to give a rate later.
    std::optional<double> total = 0.0;
    for (auto& battery : batteries_) {
        const auto value = power(battery);
        total = value && total ? std::optional(*total + *value) : std::nullopt;
    }
    return total;
}

// µWh to mAh and µW to mA, at the first battery's voltage: one conversion
// for every key, so that their ratios are those of the energies.
std::optional<double> SysfsRegistry::inKeyUnits(std::optional<double> micro)
{
    if (!micro)
        return std::nullopt;
    const auto microvolts = conversionVoltage(batteries_.front());
    return microvolts ? std::optional(*micro / *microvolts * 1000) : std::nullopt;
}

std::optional<double> SysfsRegistry::minutesRemaining()
{
    const auto microwatts = totalPower();
    // The kernel's estimate only where there is no rate for it to disagree with.
    if (!microwatts)
        return kernelMinutesRemaining();
    const auto amperage = inKeyUnits(microwatts);
    // Below half a milliampere the key reads 0.
    if (!amperage || std::fabs(*amperage) < 0.5)
        return std::nullopt;
    const auto now = totalEnergy("charge_now", "energy_now");
    if (!now)
        return std::nullopt;
    if (*microwatts < 0)
        return *now / -*microwatts * 60;
    const auto full = totalEnergy("charge_full", "energy_full");
    if (!full)
        return std::nullopt;
    // The charger stops at the limit, not at the full charge.
    const double target = *full * chargeLimit(batteries_.front()).value_or(100) / 100;
    return std::max(0.0, target - *now) / *microwatts * 60;
}

std::string SysfsRegistry::batteriesText()
{
    rescanIfDue();
    std::string lines;
    for (auto& battery : batteries_) {
        lines += battery.name + ": status " + text(battery, "status").value_or("unknown") + ", counts " +
                 (units(battery) == Units::Charge ? "charge (µAh)" : "energy (µWh)");
        if (const auto limit = chargeLimit(battery))
            lines += ", charge limit " + std::to_string(static_cast<int>(*limit)) + " %";
        lines += " (" + battery.folder + ")\n";
    }
    return lines;
}

// Whole percent; 100 (or a value no limit can be) is no limit.
std::optional<double> SysfsRegistry::chargeLimit(Supply& battery)
{
    const auto limit = number(battery, "charge_control_end_threshold");
    if (!limit || *limit <= 0 || *limit >= 100)
        return std::nullopt;
    return static_cast<double>(*limit);
}

// The kernel estimates for one battery only.
std::optional<double> SysfsRegistry::kernelMinutesRemaining()
{
    if (batteries_.size() != 1)
        return std::nullopt;
    Supply& battery = batteries_.front();
    const auto state = status(battery);
    if (state != Status::Discharging && state != Status::Charging)
        return std::nullopt;
    const auto seconds =
        notNegative(number(battery, state == Status::Discharging ? "time_to_empty_now" : "time_to_full_now"));
    return seconds ? std::optional(*seconds / 60) : std::nullopt;
}

std::optional<bool> SysfsRegistry::externalConnected()
{
    bool reported = false;
    for (auto& supply : lineSupplies_) {
        const auto online = number(supply, "online");
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
    for (auto& battery : batteries_) {
        const auto state = status(battery);
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
    for (auto& battery : batteries_) {
        const auto state = status(battery);
        if (state == Status::Charging)
            return true;
        unknown = unknown || !state;
    }
    return unknown ? std::nullopt : std::optional(false);
}

std::optional<bool> SysfsRegistry::allBatteriesFull()
{
    bool unknown = false;
    for (auto& battery : batteries_) {
        const auto state = status(battery);
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
    rescanIfDue();
    // A charger is known without a battery.
    if (*which == Battery::Key::ACPowered)
        return truth(externalConnected());
    if (batteries_.empty())
        return std::nullopt;
    Supply& first = batteries_.front();
    switch (*which) {
    case Battery::Key::ACPowered:
        break;
    case Battery::Key::Amperage:
        return whole(inKeyUnits(totalPower()));
    case Battery::Key::CurrentCapacity:
        return whole(inKeyUnits(totalEnergy("charge_now", "energy_now")));
    case Battery::Key::MaxCapacity:
        return whole(inKeyUnits(totalEnergy("charge_full", "energy_full")));
    case Battery::Key::DesignCapacity:
        return whole(inKeyUnits(totalEnergy("charge_full_design", "energy_full_design")));
    case Battery::Key::CycleCount:
        // 0 is the kernel's "not known"; a negative count is garbage.
        return whole(positive(number(first, "cycle_count")));
    case Battery::Key::DesignCycleCount:
        return std::nullopt;
    case Battery::Key::FullyCharged:
        return truth(allBatteriesFull());
    case Battery::Key::IsCharging:
        return truth(anyBatteryCharging());
    case Battery::Key::Temperature: {
        const auto tenths = number(first, "temp");
        return tenths ? whole(static_cast<double>(*tenths) * 10) : std::nullopt;
    }
    case Battery::Key::TimeRemaining:
        return whole(minutesRemaining());
    case Battery::Key::Voltage: {
        const auto microvolts = positive(number(first, "voltage_now"));
        return microvolts ? whole(*microvolts / 1000) : std::nullopt;
    }
    case Battery::Key::ChargeLimit: {
        const auto limit = chargeLimit(first);
        return limit ? whole(*limit) : std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace drainwatch
