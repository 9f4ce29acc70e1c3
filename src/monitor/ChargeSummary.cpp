// SPDX-License-Identifier: MIT
// The block of statistics written when the charger ends a long discharge.
#include "monitor/ViewController.h"

#include "log/Logger.h"

#include <cmath>

namespace drainwatch {

void ViewController::writeChargeSummary(double endPercentage)
{
    const std::int64_t withoutSleep = estimatedRuntimeSeconds(endPercentage, true);
    const std::int64_t withSleep = estimatedRuntimeSeconds(endPercentage, false);
    const double average = amperageAverage.average();
    const double capacity = batteryState.maxCapacityMAh().value_or(batteryTotalCapacity);
    const double fullAtAverage = average > 0 ? capacity * 3600 / average : 0;
    const auto fullAtAverageSeconds = std::isfinite(fullAtAverage) && std::fabs(fullAtAverage) < 9.0e18
                                          ? static_cast<std::int64_t>(fullAtAverage)
                                          : 0;

    Logger& log = Logger::main();
    log.debug("***Charge statistics***");
    log.write("Time awake: %s", durationText(dischargeTimer.currentTimeSeconds()));
    log.write("Total time: %s", durationText(acTimer.currentTimeSeconds()));
    log.write("Discharged: %.1f%% to %.1f%%", startedCountingAtPercentage * 100, lastPercentage * 100);
    log.write("Percents used in sleep: %.1f%%", usedDuringSleepPercentage * 100);
    log.write("Total extrapolated: %s",
              durationText(withSleep) + " (up to " + durationText(withoutSleep) + " without sleep)");
    log.write("Average consumption: %s (%s extrapolated)", formatPower(average), durationText(fullAtAverageSeconds));

    if (!historyRecorder)
        return;
    DischargeRecord record;
    record.end = services_.clock.now();
    record.start = acTimer.startedAt;
    record.awakeSeconds = static_cast<double>(dischargeTimer.currentTimeSeconds());
    record.totalSeconds = static_cast<double>(acTimer.currentTimeSeconds());
    record.chargeAtStart = startedCountingAtPercentage;
    record.chargeAtEnd = lastPercentage;
    record.usedInSleep = usedDuringSleepPercentage;
    record.extrapolatedSeconds = static_cast<double>(withSleep);
    record.extrapolatedWithoutSleepSeconds = static_cast<double>(withoutSleep);
    record.averageMA = average;
    historyRecorder->discharge(record);
}

} // namespace drainwatch
