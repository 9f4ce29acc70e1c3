// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"
#include "sleep/SleepRecord.h"

#include <optional>
#include <string>

// Header only: the benchmarks and the fuzz targets use it without the
// tests' library.
namespace drainwatch::test {

// A night's suspend on battery as the monitor records one, every figure and
// flag known: 8 h from 2027-01-15 08:00 UTC at 80 %, at 2 %/h 16 % used and
// 1540 mW (the figures follow the rate), 60 % of it in hardware sleep, one
// failed attempt, woken by XHC0 and LID0. A test changes what it is about.
inline SleepRecord sleepRecord(double ratePerHour = 2, std::optional<std::string> mode = "s2idle")
{
    SleepRecord r;
    r.how = "suspend";
    r.start = 1800000000;
    r.end = r.start + 8 * 3600;
    r.asleepSeconds = 8 * 3600;
    r.mode = std::move(mode);
    r.onBattery = true;
    r.chargeBefore = 0.8;
    r.usedPercentage = ratePerHour * 8;
    r.chargeAfter = r.chargeBefore - r.usedPercentage / 100;
    r.usedMAh = r.usedPercentage * 50; // of 5000 mAh
    r.usedMWh = ratePerHour * 770 * 8;
    r.ratePerHour = ratePerHour;
    r.milliwatts = ratePerHour * 770;
    r.hardwareSleep = 0.6;
    r.cycles = 4;
    r.failed = 1;
    r.failedDevice = "i2c-ELAN0001:00";
    r.failedStep = "suspend";
    r.wokenBy = std::vector<std::string>{"XHC0", "LID0"};
    r.flags = {"failed", "restless", "shallow", "high drain"};
    return r;
}

// A sample as a tick on battery writes it, every figure known; the charge
// differs a little from one time to the next.
inline HistorySample historySample(double time, std::string event = "")
{
    return {.time = time,
            .charge = 0.5 + time / 1e12,
            .currentMA = 812.5,
            .volts = 11.9,
            .fullMAh = 4800,
            .designMAh = 5200,
            .cycles = 42,
            .event = std::move(event)};
}

} // namespace drainwatch::test
