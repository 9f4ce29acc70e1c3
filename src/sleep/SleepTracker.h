// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"
#include "sleep/SleepLedger.h"
#include "sleep/SleepRecord.h"
#include "sleep/SystemSnapshot.h"

#include <functional>
#include <optional>

namespace drainwatch {

// What the monitor's tick read, as far as a sleep record needs it.
struct TickReading {
    double charge = 0;
    bool onExternalPower = false;
    std::optional<double> volts;
};

// Turns the monitor's ticks and sleep notes into sleep records. An ordinary
// tick costs two clock reads; the /sys snapshot is taken only at start, at a
// will-sleep note and at the tick that ends a sleep.
class SleepTracker {
public:
    SleepTracker(const Clock& clock, SnapshotSource& system, SleepLedger& ledger);

    // At start, with the last heartbeat and charge the store holds (0: none).
    void processStarted(double storedHeartbeat, double storedCharge);
    // After the note's own tick: charge is the monitor's lastPercentage.
    void willSleep(double charge, std::optional<double> volts);
    void didWake();
    // Every tick that read the battery. missedHeartbeat: the discharge
    // heartbeat found a gap. Makes, keeps and announces the record of a sleep
    // that ended here.
    void readableTick(const TickReading& reading, bool missedHeartbeat, double capacityMAh);

    // The last sleep watched from its start: a "not running" gap is kept,
    // but is not the last sleep.
    const std::optional<SleepRecord>& lastRecord() const { return lastRecord_; }
    const SleepLedger& ledger() const { return ledger_; }
    // The median %/h the last record was judged against, where it had enough
    // history (kBaselineMinimum records of its mode).
    std::optional<double> lastBaselineRate() const { return lastBaselineRate_; }
    // The median %/h of the comparable sleeps in the sleep mode of now.
    std::optional<double> usualRatePerHour() const { return usualRate_; }
    // How long the charge (a fraction) would last asleep at that rate.
    std::optional<double> forecastHours(double charge) const;

    // Called with every new record, after it is kept.
    std::function<void(const SleepRecord&)> recorded;

private:
    SleepSide sideNow(double charge, std::optional<bool> onExternalPower, std::optional<double> volts) const;
    void updateUsualRate();

    const Clock& clock_;
    SnapshotSource& system_;
    SleepLedger& ledger_;
    std::optional<SystemSnapshot> lastSnapshot_;
    std::optional<SleepSide> lastTick_;
    std::optional<SleepSide> atNote_;
    bool woke_ = false;
    double storedHeartbeat_ = 0;
    double storedCharge_ = 0;
    std::optional<SleepRecord> lastRecord_;
    std::optional<double> usualRate_;
    std::optional<double> lastBaselineRate_;
};

} // namespace drainwatch
