// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/SystemSnapshot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// One end of a sleep: B, the state before it, or A, the tick that ended it.
struct SleepSide {
    double wallTime = 0;                    // seconds since 1970
    std::optional<double> suspendedSeconds; // the suspended clock; empty without this process
    double charge = 0;                      // fraction of the full charge
    std::optional<bool> onExternalPower;
    std::optional<double> volts;
    std::optional<SystemSnapshot> snapshot;
    // At A: the sleeps the kernel logged since B.
    SleepEntries sleepEntries;
};

enum class SleepHow { Suspend, NotRunning, Unnoticed };

// One sleep, measured and explained. Charges are fractions; usedPercentage
// and ratePerHour are in percent of the full charge. Empty where unknown.
struct SleepRecord {
    std::string how;
    double start = 0;
    double end = 0;
    std::optional<double> asleepSeconds;
    std::optional<std::string> mode;
    bool onBattery = false;
    double chargeBefore = 0;
    double chargeAfter = 0;
    double usedPercentage = 0;
    std::optional<double> usedMAh;
    std::optional<double> usedMWh;
    std::optional<double> ratePerHour;
    std::optional<double> milliwatts;
    // Fraction of the time asleep; asked of s2idle sleeps only, the one kind
    // the residency counters count.
    std::optional<double> hardwareSleep;
    std::optional<std::int64_t> cycles;
    std::optional<std::int64_t> failed;
    std::optional<std::string> failedDevice; // only where a device step failed
    std::optional<std::string> failedStep;   // "freeze", "suspend_late", ...
    // The interrupt that ended the sleep, then the sources whose event_count
    // rose most, at most 3; empty where unknown.
    std::optional<std::vector<std::string>> wokenBy;
    std::vector<std::string> flags;
    // A "lid closed" record: what held the laptop awake, in words.
    std::optional<std::string> heldBy;

    bool charged() const { return !onBattery || chargeAfter > chargeBefore; }
    // Counts in the owner's history of sleep drain: a real sleep on battery,
    // long enough for a rate worth comparing.
    bool comparable() const;
    bool hasFlag(const std::string& flag) const;

    bool operator==(const SleepRecord&) const = default;
};

inline constexpr double kComparableSleepSeconds = 1800;
inline constexpr std::size_t kBaselineRecords = 10;
inline constexpr std::size_t kBaselineMinimum = 3;

// Every field and flag but "high drain", which needs the history.
SleepRecord buildSleepRecord(SleepHow how, const SleepSide& before, const SleepSide& after, double capacityMAh);

// What kind of sleep it was, from the kernel's log where it speaks, else from
// mem_sleep where no hibernation can have happened; empty where it cannot be
// told.
std::optional<std::string> sleepModeOf(const SystemSnapshot& before, const SystemSnapshot& after,
                                       const SleepEntries& entries, std::optional<std::int64_t> cycles,
                                       std::optional<std::int64_t> failed);

// Adds "high drain" where a comparable record's rate stands out from the
// rates of the comparable records before it with the same mode (newest
// first, at most kBaselineRecords are looked at).
void judgeDrain(SleepRecord& record, const std::vector<double>& earlierRates);

// The middle value (the mean of the two middle ones); empty for none.
std::optional<double> median(std::vector<double> values);

// One JSON object, the keys in the order of the record's fields.
std::string sleepRecordJson(const SleepRecord& record);

// The record with its figures rounded to what they can mean (a thousandth of
// a second, a millionth of the charge, a thousandth of a percent, a tenth of
// a mAh or mWh), for what people and scripts read: 643, not 642.9999999999999.
SleepRecord shownFigures(SleepRecord record);

} // namespace drainwatch
