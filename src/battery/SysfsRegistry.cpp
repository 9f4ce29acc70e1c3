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
    if (batteries_.empty())
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

void SysfsRegistry::scan()
{
    rescanDue_ = false;
    std::vector<Supply> batteries;
    std::vector<Supply> lineSupplies;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder_, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        // Entries are symbolic links into /sys/devices: follow them.
        std::error_code notDirectory;
        if (!entry->is_directory(notDirectory))
            continue;
        Supply supply;
        supply.name = entry->path().filename().string();
        supply.folder = entry->path().string() + '/';
        const auto type = text(supply, "type");
        // Mice, keyboards and headsets report their own batteries and chargers.
        if (!type || text(supply, "scope") == "Device")
            continue;
        if (*type == "Battery") {
            if (number(supply, "present") != 0)
                batteries.push_back(std::move(supply));
        } else if (*type == "Mains" || type->starts_with("USB")) {
            // Kernels before 5.x name USB chargers USB_C, USB_PD, USB_DCP...
            lineSupplies.push_back(std::move(supply));
        }
    }
    const auto byName = [](const Supply& a, const Supply& b) { return a.name < b.name; };
    std::sort(batteries.begin(), batteries.end(), byName);
    std::sort(lineSupplies.begin(), lineSupplies.end(), byName);
    // A charger coming or going must not throw away the batteries' trends.
    for (auto& battery : batteries)
        for (auto& old : batteries_)
            if (old.name == battery.name)
                battery.trend = old.trend;
    batteries_ = std::move(batteries);
    lineSupplies_ = std::move(lineSupplies);
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

// µV. The design voltage never changes, so it is read once per scan.
std::optional<double> SysfsRegistry::conversionVoltage(Supply& battery)
{
    if (!battery.designVoltage)
        battery.designVoltage = positive(number(battery, "voltage_min_design"));
    if (battery.designVoltage)
        return battery.designVoltage;
    return positive(number(battery, "voltage_now"));
}

std::optional<double> SysfsRegistry::capacityMAh(Supply& battery, std::string_view charge, std::string_view energy)
{
    if (const auto microampHours = number(battery, charge))
        return *microampHours >= 0 ? std::optional(static_cast<double>(*microampHours) / 1000) : std::nullopt;
    const auto microwattHours = notNegative(number(battery, energy));
    if (!microwattHours)
        return std::nullopt;
    const auto microvolts = conversionVoltage(battery);
    if (!microvolts)
        return std::nullopt;
    return *microwattHours / *microvolts * 1000;
}

std::optional<EnergyCapacity> SysfsRegistry::energyCapacity()
{
    if (rescanDue_ || batteries_.empty())
        scan();
    if (batteries_.empty())
        return std::nullopt;
    EnergyCapacity total;
    for (auto& battery : batteries_) {
        if (number(battery, "charge_full"))
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

std::optional<double> SysfsRegistry::totalCapacityMAh(std::string_view charge, std::string_view energy)
{
    double total = 0;
    for (auto& battery : batteries_) {
        const auto value = capacityMAh(battery, charge, energy);
        if (!value)
            return std::nullopt;
        total += *value;
    }
    return total;
}

// mA, positive while charging.
std::optional<double> SysfsRegistry::amperageMA(Supply& battery)
{
    const auto state = status(battery);
    if (state == Status::Full || state == Status::NotCharging)
        return 0.0;
    std::optional<double> magnitude;
    bool negative = false;
    // Drivers give current_now and power_now as magnitudes or signed.
    if (const auto microamps = number(battery, "current_now")) {
        magnitude = std::fabs(static_cast<double>(*microamps)) / 1000;
        negative = *microamps < 0;
    } else if (const auto microwatts = number(battery, "power_now")) {
        if (const auto microvolts = conversionVoltage(battery))
            magnitude = std::fabs(static_cast<double>(*microwatts)) / *microvolts * 1000;
    } else {
        const auto trend = battery.trend.update(clock_->now(), capacityMAh(battery, "charge_now", "energy_now"));
        if (trend) {
            magnitude = std::fabs(*trend);
            negative = *trend < 0;
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

std::optional<double> SysfsRegistry::totalAmperageMA()
{
    // Every battery is read even when one has no value: each trend needs
    // its reading now to give a rate later.
    std::optional<double> total = 0.0;
    for (auto& battery : batteries_) {
        const auto value = amperageMA(battery);
        total = value && total ? std::optional(*total + *value) : std::nullopt;
    }
    return total;
}

std::optional<double> SysfsRegistry::minutesRemaining()
{
    const auto amperage = totalAmperageMA();
    // Below half a milliampere the key reads 0.
    if (!amperage || std::fabs(*amperage) < 0.5)
        return std::nullopt;
    const bool discharging = *amperage < 0;
    // The kernel's own estimate, where one battery gives it.
    if (batteries_.size() == 1) {
        const auto seconds = notNegative(number(batteries_.front(), discharging ? "time_to_empty_now" : "time_to_full_now"));
        if (seconds)
            return *seconds / 60;
    }
    const auto now = totalCapacityMAh("charge_now", "energy_now");
    if (!now)
        return std::nullopt;
    if (discharging)
        return *now / -*amperage * 60;
    const auto full = totalCapacityMAh("charge_full", "energy_full");
    if (!full)
        return std::nullopt;
    return std::max(0.0, *full - *now) / *amperage * 60;
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
    // A battery that went away (swapped, or its driver reloaded) may be back.
    if (rescanDue_ || batteries_.empty())
        scan();
    if (batteries_.empty())
        return std::nullopt;
    Supply& first = batteries_.front();
    switch (*which) {
    case Battery::Key::ACPowered:
        return truth(externalConnected());
    case Battery::Key::Amperage:
        return whole(totalAmperageMA());
    case Battery::Key::CurrentCapacity:
        return whole(totalCapacityMAh("charge_now", "energy_now"));
    case Battery::Key::MaxCapacity:
        return whole(totalCapacityMAh("charge_full", "energy_full"));
    case Battery::Key::DesignCapacity:
        return whole(totalCapacityMAh("charge_full_design", "energy_full_design"));
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
    }
    return std::nullopt;
}

} // namespace drainwatch
