// SPDX-License-Identifier: MIT
// The texts of the window and the runtime estimates behind them.
#include "monitor/ViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <fmt/printf.h>

namespace drainwatch {

namespace {

constexpr std::int64_t kOnACSeconds = 6;
constexpr std::int64_t kEstimateMinimumSeconds = 10;
constexpr double kEstimateMinimumUsed = 0.001;

void show(TextField* field, const std::string& text)
{
    if (field)
        field->setText(text);
}

// Truncated toward zero; 0 for what no duration can be.
std::int64_t wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9.0e18)
        return 0;
    return static_cast<std::int64_t>(seconds);
}

} // namespace

std::string durationText(std::int64_t seconds)
{
    // Only a damaged store or a clock far off can make a count negative.
    seconds = std::max<std::int64_t>(seconds, 0);
    return fmt::sprintf("%02d:%02d", seconds / 3600, (seconds / 60) % 60);
}

std::int64_t ViewController::estimatedRuntimeSeconds(double chargePercentage, bool removeSleep) const
{
    const double used = startedCountingAtPercentage - (removeSleep ? usedDuringSleepPercentage : 0) - chargePercentage;
    const std::int64_t awake = dischargeTimer.currentTimeSeconds();
    if (awake < kEstimateMinimumSeconds || !(used >= kEstimateMinimumUsed))
        return 0;
    return wholeSeconds(static_cast<double>(awake) / used);
}

bool ViewController::useWatts() const { return useWattsCheckbox && useWattsCheckbox->isChecked(); }

std::string ViewController::formatPower(double current) const
{
    const double value = current * 100 / batteryTotalCapacity;
    return fmt::sprintf("%.1f %%/h", std::isfinite(value) ? value : 0.0);
}

// The window may show watts; the log always speaks in percent per hour.
std::string ViewController::displayPower(double current) const
{
    if (!useWatts())
        return formatPower(current);
    const double watts = current / 1000 * powerVoltage;
    return fmt::sprintf("%.1f W", std::isfinite(watts) ? watts : 0.0);
}

// Firmware without a current of its own gives a rate only from two readings
// some seconds apart: until the first since a start or a wake, the charge and
// the health are known already.
void ViewController::showWithoutReading()
{
    const auto charge = rateAwaited_ ? batteryState.chargePercentage() : std::nullopt;
    if (!charge) {
        showNoBattery();
        return;
    }
    lastCharge_ = charge; // for the tray and the JSON line too
    heldAt_.reset();
    for (TextField* field : {timeAwakeLabel, timeOnBatteryLabel, consumptionLabel, plannedRuntimeLabel,
                             totalRuntimeLabel, countingSinceLabel, usedInSleepLabel})
        show(field, "(please wait)");
    show(currentChargeLabel, fmt::sprintf("%.1f%%", *charge * 100));
    show(healthLabel, healthText());
    if (displayUpdated)
        displayUpdated();
}

void ViewController::showNoBattery()
{
    heldAt_.reset();
    for (TextField* field : {timeAwakeLabel, timeOnBatteryLabel, consumptionLabel, plannedRuntimeLabel,
                             totalRuntimeLabel, currentChargeLabel, countingSinceLabel, usedInSleepLabel, healthLabel})
        show(field, "(no battery)");
    if (displayUpdated)
        displayUpdated();
}

// Outside a tick (the reset button, the watts box) the battery is read afresh.
void ViewController::updateTime()
{
    const auto charging = batteryState.isCharging();
    const auto charge = batteryState.chargePercentage();
    const auto current = batteryState.amperage();
    if (!charging || !charge || !current) {
        showWithoutReading();
        return;
    }
    showStatus(*charging, *charge, *current);
}

// The tick passes what it has just read: each sysfs read costs three
// system calls, and on many laptops a trip to the firmware.
void ViewController::showStatus(bool charging, double c, double current)
{
    if (!(batteryTotalCapacity > 0)) {
        showNoBattery();
        return;
    }
    const std::int64_t awake = dischargeTimer.currentTimeSeconds();

    heldAt_ = chargeHeldAt(charging, c);
    if (awake < kOnACSeconds && charging) {
        show(timeAwakeLabel, "(on AC power)");
        show(timeOnBatteryLabel, "(on AC power)");
        show(consumptionLabel, heldAt_ ? fmt::sprintf("held at %.0f %% (charge limit)", *heldAt_ * 100)
                                       : fmt::sprintf("%s (charging)", displayPower(std::fabs(current))));
        show(plannedRuntimeLabel, "(on AC power)");
        show(totalRuntimeLabel, "(on AC power)");
    } else if (awake < kOnACSeconds) {
        // The first tick after a start, an unplug or a reset, on battery: a
        // count just begun, not the charger.
        for (TextField* field :
             {timeAwakeLabel, timeOnBatteryLabel, consumptionLabel, plannedRuntimeLabel, totalRuntimeLabel})
            show(field, "(please wait)");
    } else {
        // The awake drain alone, as the Consumption line gives it: the charge
        // lost in sleep would otherwise be spread over the awake time.
        const std::int64_t runtime = estimatedRuntimeSeconds(c, true);
        show(timeAwakeLabel, durationText(dischargeTimer.currentTimeSeconds()));
        show(timeOnBatteryLabel, durationText(acTimer.currentTimeSeconds()));
        show(consumptionLabel,
             fmt::sprintf("%s (%s recent, %s avg)", displayPower(current),
                          displayPower(amperageRollingAverage.average()), displayPower(amperageAverage.average())));
        if (runtime < 1) {
            show(plannedRuntimeLabel, "(please wait)");
            show(totalRuntimeLabel, "(please wait)");
        } else {
            show(plannedRuntimeLabel, durationText(wholeSeconds(static_cast<double>(runtime) * c)));
            show(totalRuntimeLabel, durationText(runtime));
        }
    }

    show(currentChargeLabel, fmt::sprintf("%.1f%%", c * 100));
    show(countingSinceLabel, fmt::sprintf("%.1f%%", startedCountingAtPercentage * 100));
    show(usedInSleepLabel, fmt::sprintf("%.1f%%", usedDuringSleepPercentage * 100));
    show(healthLabel, healthText());
    if (displayUpdated)
        displayUpdated();
}

// The charger is in, yet the battery neither charges nor is full: a charge
// limit holds it where it is (between the two thresholds, not only at the
// end one). At the top, without a limit, it is full whatever the driver says.
std::optional<double> ViewController::chargeHeldAt(bool externalPower, double charge) const
{
    if (!externalPower || batteryState.batt.isCharging() != false || batteryState.batt.isCharged() == true)
        return std::nullopt;
    const auto limit = batteryState.batt.chargeLimit();
    if (!(limit && *limit > 0 && *limit < 100) && charge >= 0.995)
        return std::nullopt;
    return charge;
}

std::string ViewController::healthText() const
{
    const auto maximum = batteryState.maxCapacityMAh();
    const auto design = batteryState.designCapacityMAh();
    return maximum && design && *design > 0
               ? fmt::sprintf("%.1f%% (%gmAh of %gmAh)", *maximum / *design * 100, *maximum, *design)
               : std::string("(unknown)");
}

} // namespace drainwatch
