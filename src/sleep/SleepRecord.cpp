// SPDX-License-Identifier: MIT
#include "sleep/SleepRecord.h"

#include "log/JsonText.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// The overloads below add to the shared ones rather than hide them.
using drainwatch::jsonNumber;

constexpr double kMinimumRateSeconds = 60;
// The suspended clock stands still through s2idle where the tick is not
// frozen (VMs, idle=poll): past this much short of the wall clock across a
// sleep the kernel counted, the wall clock tells the time asleep.
constexpr double kSuspendedClockShortBy = 60;
// Intel's PMC driver adds each cycle's residency as a u32 of µs.
constexpr double kLongestCountedCycleUs = 4294967296.0;
constexpr double kShallowBelow = 0.90;
constexpr std::size_t kMostWakeSources = 3;
constexpr double kHighAgainstMedian = 2.0;
constexpr double kHighFloorPerHour = 0.5;
constexpr double kHighWithoutHistoryPerHour = 1.5;

const char* howText(SleepHow how)
{
    switch (how) {
    case SleepHow::Suspend:
        return "suspend";
    case SleepHow::NotRunning:
        return "not running";
    case SleepHow::Unnoticed:
        break;
    }
    return "unnoticed";
}

// The rise of a kernel counter from B to A; empty where an end lacks it or
// it fell (a reboot in between).
std::optional<std::int64_t> rise(const std::optional<std::int64_t>& before, const std::optional<std::int64_t>& after)
{
    if (!before || !after || *after < *before)
        return std::nullopt;
    return *after - *before;
}

std::optional<double> hardwareSleepShare(const SystemSnapshot& before, const SystemSnapshot& after,
                                         std::optional<double> asleepSeconds)
{
    if (!asleepSeconds || *asleepSeconds < 1)
        return std::nullopt;
    std::optional<std::int64_t> risen;
    // LPIT is read live from the hardware, where it exists; a wrap falls.
    if (before.lpitResidencyUs && after.lpitResidencyUs)
        risen = rise(before.lpitResidencyUs, after.lpitResidencyUs);
    // total_hw_sleep only where a PMC driver feeds it, and for sleeps no
    // cycle of which can have wrapped.
    else if (after.maxHardwareSleepUs.value_or(0) > 0 && *asleepSeconds * 1e6 <= kLongestCountedCycleUs &&
             *asleepSeconds * 1e6 <= static_cast<double>(*after.maxHardwareSleepUs))
        risen = rise(before.hardwareSleepUs, after.hardwareSleepUs);
    if (!risen)
        return std::nullopt;
    const double share = static_cast<double>(*risen) / 1e6 / *asleepSeconds;
    if (!(share >= 0 && share <= 1))
        return std::nullopt;
    return share;
}

// The interrupt that ended the last cycle, then the wakeup sources whose
// events rose from the will-sleep note to the wake.
std::optional<std::vector<std::string>> wakeSources(const SystemSnapshot& before, const SystemSnapshot& after,
                                                    std::optional<std::int64_t> cycles)
{
    const bool eventsKnown = before.wakeupEvents && after.wakeupEvents;
    if (!eventsKnown && !after.wakeupIrq)
        return std::nullopt;
    std::vector<std::string> names;
    // pm_wakeup_irq tells of the newest cycle: this sleep's only if it had one.
    if (after.wakeupIrq && *after.wakeupIrq > 0 && cycles.value_or(0) > 0)
        names.push_back(after.wakeupIrqActions ? *after.wakeupIrqActions : fmt::format("irq {}", *after.wakeupIrq));
    if (!eventsKnown)
        return names;
    std::vector<std::pair<std::int64_t, std::string>> risen;
    for (const auto& [name, count] : *after.wakeupEvents) {
        const auto earlier = before.wakeupEvents->find(name);
        // A source that appeared meanwhile has no count to rise from.
        if (earlier != before.wakeupEvents->end() && count > earlier->second)
            risen.emplace_back(count - earlier->second, name);
    }
    std::sort(risen.begin(), risen.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (std::size_t i = 0; i < risen.size() && names.size() < kMostWakeSources; ++i)
        if (std::find(names.begin(), names.end(), risen[i].second) == names.end())
            names.push_back(risen[i].second);
    return names;
}

// The step whose failure counter rose; where a device step did, the device.
void failedStepAndDevice(const SystemSnapshot& before, const SystemSnapshot& after, SleepRecord& record)
{
    for (const char* step : kSuspendSteps) {
        const auto b = before.stepFailures.find(step);
        const auto a = after.stepFailures.find(step);
        if (b == before.stepFailures.end() || a == after.stepFailures.end() || a->second <= b->second)
            continue;
        if (!record.failedStep)
            record.failedStep = step;
        // last_failed_dev is written by device steps alone: after a failed
        // freeze it names an older failure's device.
        if (isDeviceStep(step)) {
            record.failedStep = step;
            record.failedDevice = after.lastFailedDevice;
            return;
        }
    }
}

// Above by more than the rounding of rates that were sums and quotients.
bool clearlyAbove(double value, double bound) { return value > bound + 1e-9 * std::max(1.0, std::fabs(bound)); }

std::string jsonNumber(double value) { return jsonNumber(std::optional<double>(value)); }

std::string jsonNumber(const std::optional<std::int64_t>& value) { return value ? fmt::format("{}", *value) : "null"; }

std::string jsonText(const std::optional<std::string>& value) { return value ? jsonString(*value) : "null"; }

std::string jsonArray(const std::vector<std::string>& values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + jsonString(values[i]);
    return out + ']';
}

std::string jsonArray(const std::optional<std::vector<std::string>>& values)
{
    return values ? jsonArray(*values) : "null";
}

} // namespace

bool SleepRecord::comparable() const
{
    return (how == "suspend" || how == "unnoticed") && !charged() && asleepSeconds &&
           *asleepSeconds >= kComparableSleepSeconds && ratePerHour.has_value();
}

bool SleepRecord::hasFlag(const std::string& flag) const
{
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::optional<std::string> sleepModeOf(const SystemSnapshot& before, const SystemSnapshot& after,
                                       const SleepEntries& entries, std::optional<std::int64_t> cycles,
                                       std::optional<std::int64_t> failed)
{
    if (!entries.empty()) {
        const bool hibernated = std::find(entries.begin(), entries.end(), "hibernate") != entries.end();
        std::optional<std::string> suspended;
        for (const auto& entry : entries) {
            if (entry == "hibernate")
                continue;
            // Two kinds of suspend in one sleep: mem_sleep was changed meanwhile.
            if (suspended && *suspended != entry)
                return std::nullopt;
            suspended = entry;
        }
        if (!hibernated)
            return suspended;
        return suspended ? "suspend-then-hibernate" : "hibernate";
    }
    if (before.mode != after.mode)
        return std::nullopt;
    if (after.canHibernate) {
        // A hibernation counts no suspend cycle; after a suspend that did,
        // another may have followed (suspend-then-hibernate) unseen.
        if (cycles == 0 && failed == 0)
            return "hibernate";
        return std::nullopt;
    }
    return before.mode;
}

SleepRecord buildSleepRecord(SleepHow how, const SleepSide& before, const SleepSide& after, double capacityMAh)
{
    SleepRecord record;
    record.how = howText(how);
    record.start = before.wallTime;
    record.end = after.wallTime;
    if (before.snapshot)
        record.mode = before.snapshot->mode;
    if (before.snapshot && after.snapshot) {
        const SystemSnapshot& b = *before.snapshot;
        const SystemSnapshot& a = *after.snapshot;
        record.cycles = rise(b.successes, a.successes);
        record.failed = rise(b.failures, a.failures);
        record.mode = sleepModeOf(b, a, after.sleepEntries, record.cycles, record.failed);
        if (record.failed && *record.failed > 0)
            failedStepAndDevice(b, a, record);
        // Only a will-sleep note tells which events came in the sleep.
        if (how == SleepHow::Suspend)
            record.wokenBy = wakeSources(b, a, record.cycles);
    }
    if (how != SleepHow::NotRunning && before.suspendedSeconds && after.suspendedSeconds) {
        record.asleepSeconds = std::max(0.0, *after.suspendedSeconds - *before.suspendedSeconds);
        const double wallSeconds = record.end - record.start;
        if (record.cycles.value_or(0) > 0 && wallSeconds - *record.asleepSeconds > kSuspendedClockShortBy)
            record.asleepSeconds = wallSeconds;
    }
    if (record.mode == "s2idle" && before.snapshot && after.snapshot)
        record.hardwareSleep = hardwareSleepShare(*before.snapshot, *after.snapshot, record.asleepSeconds);
    record.onBattery = before.onExternalPower != true && after.onExternalPower != true;
    record.chargeBefore = before.charge;
    record.chargeAfter = after.charge;
    const double used = before.charge - after.charge;
    record.usedPercentage = used * 100;
    if (capacityMAh > 0 && std::isfinite(capacityMAh)) {
        record.usedMAh = used * capacityMAh;
        std::optional<double> volts;
        if (before.volts && after.volts)
            volts = (*before.volts + *after.volts) / 2;
        else
            volts = before.volts ? before.volts : after.volts;
        if (volts)
            record.usedMWh = *record.usedMAh * *volts;
    }

    const double seconds = how == SleepHow::NotRunning ? record.end - record.start : record.asleepSeconds.value_or(0);
    if (record.onBattery && !record.charged() && seconds >= kMinimumRateSeconds) {
        const double hours = seconds / 3600;
        record.ratePerHour = record.usedPercentage / hours;
        if (record.usedMWh)
            record.milliwatts = *record.usedMWh / hours;
    }

    if (how == SleepHow::NotRunning)
        record.flags.push_back("not running");
    if (record.charged())
        record.flags.push_back("charged");
    if (record.failed && *record.failed > 0)
        record.flags.push_back("failed");
    if (record.cycles && *record.cycles > 1)
        record.flags.push_back("restless");
    if (record.hardwareSleep && *record.hardwareSleep < kShallowBelow)
        record.flags.push_back("shallow");
    return record;
}

void judgeDrain(SleepRecord& record, const std::vector<double>& earlierRates)
{
    if (!record.comparable() || record.hasFlag("high drain"))
        return;
    const double rate = *record.ratePerHour;
    const auto count = static_cast<std::ptrdiff_t>(std::min(earlierRates.size(), kBaselineRecords));
    const std::vector<double> baseline(earlierRates.begin(), earlierRates.begin() + count);
    const bool high =
        baseline.size() >= kBaselineMinimum
            ? clearlyAbove(rate, kHighAgainstMedian * *median(baseline)) && clearlyAbove(rate, kHighFloorPerHour)
            : clearlyAbove(rate, kHighWithoutHistoryPerHour);
    if (high)
        record.flags.push_back("high drain");
}

std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

// To 1/perUnit; dividing by a whole number gives the shortest decimal back.
double roundedTo(double value, double perUnit)
{
    return std::isfinite(value) ? std::round(value * perUnit) / perUnit : value;
}

void roundTo(std::optional<double>& value, double perUnit)
{
    if (value)
        *value = roundedTo(*value, perUnit);
}

} // namespace

SleepRecord shownFigures(SleepRecord r)
{
    r.start = roundedTo(r.start, 1e3);
    r.end = roundedTo(r.end, 1e3);
    roundTo(r.asleepSeconds, 1e3);
    r.chargeBefore = roundedTo(r.chargeBefore, 1e6);
    r.chargeAfter = roundedTo(r.chargeAfter, 1e6);
    r.usedPercentage = roundedTo(r.usedPercentage, 1e3);
    roundTo(r.usedMAh, 10);
    roundTo(r.usedMWh, 10);
    roundTo(r.ratePerHour, 1e3);
    roundTo(r.milliwatts, 10);
    roundTo(r.hardwareSleep, 1e4);
    return r;
}

std::string sleepRecordJson(const SleepRecord& r)
{
    return fmt::format("{{\"how\":{},\"start\":{},\"end\":{},\"asleepSeconds\":{},\"mode\":{},\"onBattery\":{},"
                       "\"chargeBefore\":{},\"chargeAfter\":{},\"usedPercentage\":{},\"usedMAh\":{},\"usedMWh\":{},"
                       "\"ratePerHour\":{},\"milliwatts\":{},\"hardwareSleep\":{},\"cycles\":{},\"failed\":{},"
                       "\"failedDevice\":{}{},\"wokenBy\":{},\"flags\":{}{}}}",
                       jsonString(r.how), jsonNumber(r.start), jsonNumber(r.end), jsonNumber(r.asleepSeconds),
                       jsonText(r.mode), r.onBattery ? "true" : "false", jsonNumber(r.chargeBefore),
                       jsonNumber(r.chargeAfter), jsonNumber(r.usedPercentage), jsonNumber(r.usedMAh),
                       jsonNumber(r.usedMWh), jsonNumber(r.ratePerHour), jsonNumber(r.milliwatts),
                       jsonNumber(r.hardwareSleep), jsonNumber(r.cycles), jsonNumber(r.failed),
                       jsonText(r.failedDevice),
                       // Where known only: the records of the kernels that do not say have it not.
                       r.failedStep ? ",\"failedStep\":" + jsonString(*r.failedStep) : "", jsonArray(r.wokenBy),
                       jsonArray(r.flags), r.heldBy ? ",\"heldBy\":" + jsonString(*r.heldBy) : "");
}

} // namespace drainwatch
