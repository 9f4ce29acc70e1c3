// SPDX-License-Identifier: MIT
#include "battery/SysfsRate.h"

#include "battery/SysfsEnergy.h"

#include <algorithm>
#include <cmath>

namespace drainwatch::sysfs {

namespace {

// The kernel estimates for one battery only.
std::optional<double> kernelMinutesRemaining(std::vector<Supply>& batteries)
{
    if (batteries.size() != 1)
        return std::nullopt;
    Supply& battery = batteries.front();
    const auto state = battery.status();
    if (state != Status::Discharging && state != Status::Charging)
        return std::nullopt;
    const auto seconds =
        notNegative(battery.number(state == Status::Discharging ? "time_to_empty_now" : "time_to_full_now"));
    return seconds ? std::optional(*seconds / 60) : std::nullopt;
}

} // namespace

std::optional<double> power(Supply& battery, const Clock& clock, const ExternalPower& external)
{
    const auto state = battery.status();
    if (state == Status::Full || state == Status::NotCharging)
        return 0.0;
    const bool countsCharge = units(battery) == Units::Charge;
    std::optional<double> magnitude;
    bool negative = false;
    // Drivers give current_now and power_now as magnitudes or signed. One
    // in the other unit than the driver counts in converts at the voltage of
    // the moment: that is what flows now.
    if (const auto microamps = battery.number("current_now")) {
        negative = *microamps < 0;
        const auto microvolts = countsCharge ? conversionVoltage(battery) : liveVoltage(battery);
        if (microvolts)
            magnitude = std::fabs(static_cast<double>(*microamps)) * *microvolts / 1e6;
    } else if (const auto microwatts = battery.number("power_now")) {
        const double watts = std::fabs(static_cast<double>(*microwatts));
        if (!countsCharge)
            magnitude = watts;
        else if (const auto microvolts = liveVoltage(battery))
            magnitude = toEnergy(battery, watts / *microvolts * 1e6);
    } else {
        const auto perHour =
            battery.trend.update(clock.now(), notNegative(battery.number(countsCharge ? "charge_now" : "energy_now")));
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
    const auto connected = external();
    if (!connected)
        return std::nullopt;
    return *connected ? *magnitude : -*magnitude;
}

std::optional<double> totalPower(std::vector<Supply>& batteries, const Clock& clock, const ExternalPower& external)
{
    // Every battery is read even when one has no value: each trend needs
    // its reading now to give a rate later.
    std::optional<double> total = 0.0;
    for (auto& battery : batteries) {
        const auto value = power(battery, clock, external);
        total = value && total ? std::optional(*total + *value) : std::nullopt;
    }
    return total;
}

std::optional<double> minutesRemaining(std::vector<Supply>& batteries, const Clock& clock,
                                       const ExternalPower& external)
{
    const auto microwatts = totalPower(batteries, clock, external);
    // The kernel's estimate only where there is no rate for it to disagree with.
    if (!microwatts)
        return kernelMinutesRemaining(batteries);
    const auto amperage = inKeyUnits(batteries, microwatts);
    // Below half a milliampere the key reads 0.
    if (!amperage || std::fabs(*amperage) < 0.5)
        return std::nullopt;
    const auto now = totalEnergy(batteries, "charge_now", "energy_now");
    if (!now)
        return std::nullopt;
    if (*microwatts < 0)
        return *now / -*microwatts * 60;
    const auto full = totalEnergy(batteries, "charge_full", "energy_full");
    if (!full)
        return std::nullopt;
    // The charger stops at the limit, not at the full charge.
    const double target = *full * chargeLimit(batteries.front()).value_or(100) / 100;
    return std::max(0.0, target - *now) / *microwatts * 60;
}

// The key counts an energy battery's own power, but a charge battery's
// current at its fixed voltage, while that current flows at the voltage of
// the moment. Packs count by their share of the power; alike while none flows.
std::optional<double> powerVoltage(std::vector<Supply>& batteries, const Clock& clock, const ExternalPower& external)
{
    const auto keyMicrovolts = conversionVoltage(batteries.front());
    if (!keyMicrovolts)
        return std::nullopt;
    double weights = 0;
    double weighted = 0;
    double ratios = 0;
    bool powersKnown = true;
    for (auto& battery : batteries) {
        double ratio = 1;
        if (units(battery) == Units::Charge) {
            const auto flowing = liveVoltage(battery);
            if (!flowing)
                return std::nullopt;
            ratio = *flowing / *conversionVoltage(battery);
        }
        const auto microwatts = power(battery, clock, external);
        powersKnown = powersKnown && microwatts;
        const double weight = microwatts ? std::fabs(*microwatts) : 0;
        weights += weight;
        weighted += weight * ratio;
        ratios += ratio;
    }
    const double ratio =
        powersKnown && weights > 0 ? weighted / weights : ratios / static_cast<double>(batteries.size());
    return *keyMicrovolts * ratio / 1000;
}

} // namespace drainwatch::sysfs
