// SPDX-License-Identifier: MIT
#include "sleep/SleepTracker.h"

#include <cmath>
#include <limits>

namespace drainwatch {

SleepTracker::SleepTracker(const Clock& clock, SnapshotSource& system, SleepLedger& ledger)
    : clock_(clock), system_(system), ledger_(ledger)
{
}

void SleepTracker::processStarted(double storedHeartbeat, double storedCharge)
{
    storedHeartbeat_ = storedHeartbeat;
    storedCharge_ = storedCharge;
    lastSnapshot_ = system_.take();
    lastRecord_ = ledger_.latestWatched();
    updateUsualRate();
}

SleepSide SleepTracker::sideNow(double charge, std::optional<bool> onExternalPower, std::optional<double> volts) const
{
    return SleepSide{clock_.now(), clock_.suspendedSeconds(), charge, onExternalPower, volts, std::nullopt, {}};
}

void SleepTracker::willSleep(double charge, std::optional<double> volts)
{
    atNote_ = sideNow(charge, lastTick_ ? lastTick_->onExternalPower : std::nullopt, volts);
    atNote_->snapshot = lastSnapshot_ = system_.take();
}

void SleepTracker::didWake() { woke_ = true; }

void SleepTracker::readableTick(const TickReading& reading, bool missedHeartbeat, double capacityMAh)
{
    SleepSide now = sideNow(reading.charge, reading.onExternalPower, reading.volts);
    if (missedHeartbeat || woke_) {
        std::optional<SleepSide> before;
        SleepHow how = SleepHow::Unnoticed;
        if (atNote_) {
            how = SleepHow::Suspend;
            before = atNote_;
        } else if (lastTick_) {
            before = lastTick_;
            before->snapshot = lastSnapshot_;
        } else if (missedHeartbeat && storedHeartbeat_ > 0) {
            // The gap began before this process: only the store knows B.
            how = SleepHow::NotRunning;
            before =
                SleepSide{storedHeartbeat_, std::nullopt, storedCharge_, std::nullopt, std::nullopt, std::nullopt, {}};
        }
        if (before) {
            now.snapshot = lastSnapshot_ = system_.take();
            if (before->snapshot)
                now.sleepEntries = system_.sleepEntriesSince(before->wallTime);
            SleepRecord record = buildSleepRecord(how, *before, now, capacityMAh);
            const auto earlier = ledger_.comparableRates(record.mode, kBaselineRecords);
            judgeDrain(record, earlier);
            lastBaselineRate_ = earlier.size() >= kBaselineMinimum ? median(earlier) : std::nullopt;
            ledger_.add(record);
            if (how != SleepHow::NotRunning)
                lastRecord_ = record;
            updateUsualRate();
            if (recorded)
                recorded(record);
        }
    }
    atNote_.reset();
    woke_ = false;
    now.snapshot.reset();
    lastTick_ = now;
}

void SleepTracker::updateUsualRate()
{
    const std::optional<std::string> mode = lastSnapshot_ ? lastSnapshot_->mode : std::nullopt;
    usualRate_ = median(ledger_.comparableRates(mode, std::numeric_limits<std::size_t>::max()));
}

std::optional<double> SleepTracker::forecastHours(double charge) const
{
    if (!usualRate_ || !(*usualRate_ > 0) || !std::isfinite(charge) || charge < 0)
        return std::nullopt;
    return charge * 100 / *usualRate_;
}

} // namespace drainwatch
