// SPDX-License-Identifier: MIT
#include "battery/SysfsScan.h"

#include "battery/SysfsEnergy.h"

#include <algorithm>

namespace drainwatch::sysfs {

namespace {

// Batteries come without notice. With none, the folder is listed at most once
// a second (once a tick); with some, once a minute, for another one.
constexpr double kLookWithoutBattery = 1;
constexpr double kLookForAnother = 60;

} // namespace

SupplyScan::SupplyScan(std::filesystem::path folder, const Clock& clock) : folder_(std::move(folder)), clock_(&clock) {}

// The entries' names only, sorted: no attribute is read.
std::vector<std::string> SupplyScan::supplyNames(bool& listed) const
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

void SupplyScan::scan()
{
    rescanDue_ = false;
    batteryOut_ = false;
    lastLook_ = clock_->now();
    names_ = supplyNames(folderListed_);
    std::vector<Supply> found;
    std::vector<Supply> lines;
    for (const auto& name : names_) {
        Supply supply;
        supply.name = name;
        supply.folder = (folder_ / name).string() + '/';
        // Entries are symbolic links into /sys/devices: follow them.
        std::error_code notDirectory;
        if (!std::filesystem::is_directory(supply.folder, notDirectory))
            continue;
        const auto type = supply.text("type");
        const bool device = type && supply.text("scope") == "Device";
        rescanDue_ = rescanDue_ || supply.gone;
        // Mice, keyboards and headsets report their own batteries and chargers.
        if (!type || device)
            continue;
        if (*type == "Battery") {
            const bool present = supply.number("present") != 0;
            rescanDue_ = rescanDue_ || supply.gone;
            if (present)
                found.push_back(std::move(supply));
            else
                batteryOut_ = true;
        } else if (*type == "Mains" || type->starts_with("USB")) {
            // Kernels before 5.x name USB chargers USB_C, USB_PD, USB_DCP...
            lines.push_back(std::move(supply));
        }
    }
    // A charger coming or going must not throw away what is known of the batteries.
    for (auto& battery : found) {
        for (auto& old : batteries)
            if (old.name == battery.name) {
                battery.units = old.units;
                battery.voltage = old.voltage;
                battery.trend = old.trend;
            }
        (void)fixedVoltage(battery);
    }
    batteries = std::move(found);
    lineSupplies = std::move(lines);
}

bool SupplyScan::supplyGone() const
{
    const auto gone = [](const Supply& supply) { return supply.gone; };
    return rescanDue_ || std::any_of(batteries.begin(), batteries.end(), gone) ||
           std::any_of(lineSupplies.begin(), lineSupplies.end(), gone);
}

void SupplyScan::rescanIfDue()
{
    if (supplyGone()) {
        scan();
        return;
    }
    const double since = clock_->now() - lastLook_;
    if (since >= 0 && since < (batteries.empty() ? kLookWithoutBattery : kLookForAnother))
        return;
    lastLook_ = clock_->now();
    bool listed = false;
    if (batteryOut_ || supplyNames(listed) != names_)
        scan();
}

} // namespace drainwatch::sysfs
