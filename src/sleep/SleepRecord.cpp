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
    auto risen = rise(before.hardwareSleepUs, after.hardwareSleepUs);
    if (!before.hardwareSleepUs || !after.hardwareSleepUs)
        risen = rise(before.lpitResidencyUs, after.lpitResidencyUs);
    if (!risen)
        return std::nullopt;
    const double share = static_cast<double>(*risen) / 1e6 / *asleepSeconds;
    if (!(share >= 0 && share <= 1))
        return std::nullopt;
    return share;
}

std::vector<std::string> wakeSources(const SystemSnapshot& before, const SystemSnapshot& after)
{
    std::vector<std::pair<std::int64_t, std::string>> risen;
    if (!before.wakeupCounts || !after.wakeupCounts)
        return {};
    for (const auto& [name, count] : *after.wakeupCounts) {
        const auto earlier = before.wakeupCounts->find(name);
        // A source that appeared meanwhile has no count to rise from.
        if (earlier != before.wakeupCounts->end() && count > earlier->second)
            risen.emplace_back(count - earlier->second, name);
    }
    std::sort(risen.begin(), risen.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<std::string> names;
    for (std::size_t i = 0; i < risen.size() && i < kMostWakeSources; ++i)
        names.push_back(risen[i].second);
    return names;
}

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

SleepRecord buildSleepRecord(SleepHow how, const SleepSide& before, const SleepSide& after, double capacityMAh)
{
    SleepRecord record;
    record.how = howText(how);
    record.start = before.wallTime;
    record.end = after.wallTime;
    if (how != SleepHow::NotRunning && before.suspendedSeconds && after.suspendedSeconds)
        record.asleepSeconds = std::max(0.0, *after.suspendedSeconds - *before.suspendedSeconds);
    if (before.snapshot)
        record.mode = before.snapshot->mode;
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

    if (before.snapshot && after.snapshot) {
        const SystemSnapshot& b = *before.snapshot;
        const SystemSnapshot& a = *after.snapshot;
        record.hardwareSleep = hardwareSleepShare(b, a, record.asleepSeconds);
        record.cycles = rise(b.successes, a.successes);
        record.failed = rise(b.failures, a.failures);
        if (record.failed && *record.failed > 0)
            record.failedDevice = a.lastFailedDevice;
        record.wokenBy = wakeSources(b, a);
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
    const bool high = baseline.size() >= kBaselineMinimum
                          ? rate > kHighAgainstMedian * *median(baseline) && rate > kHighFloorPerHour
                          : rate > kHighWithoutHistoryPerHour;
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

std::string sleepRecordJson(const SleepRecord& r)
{
    return fmt::format("{{\"how\":{},\"start\":{},\"end\":{},\"asleepSeconds\":{},\"mode\":{},\"onBattery\":{},"
                       "\"chargeBefore\":{},\"chargeAfter\":{},\"usedPercentage\":{},\"usedMAh\":{},\"usedMWh\":{},"
                       "\"ratePerHour\":{},\"milliwatts\":{},\"hardwareSleep\":{},\"cycles\":{},\"failed\":{},"
                       "\"failedDevice\":{},\"wokenBy\":{},\"flags\":{}}}",
                       jsonString(r.how), jsonNumber(r.start), jsonNumber(r.end), jsonNumber(r.asleepSeconds),
                       jsonText(r.mode), r.onBattery ? "true" : "false", jsonNumber(r.chargeBefore),
                       jsonNumber(r.chargeAfter), jsonNumber(r.usedPercentage), jsonNumber(r.usedMAh),
                       jsonNumber(r.usedMWh), jsonNumber(r.ratePerHour), jsonNumber(r.milliwatts),
                       jsonNumber(r.hardwareSleep), jsonNumber(r.cycles), jsonNumber(r.failed),
                       jsonText(r.failedDevice), jsonArray(r.wokenBy), jsonArray(r.flags));
}

} // namespace drainwatch
