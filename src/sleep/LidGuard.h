// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"
#include "measure/PreferenceStore.h"
#include "sleep/LidState.h"
#include "sleep/LidText.h"
#include "sleep/SleepLedger.h"
#include "sleep/SleepTracker.h"

#include <functional>
#include <optional>

namespace drainwatch {

// Watches for the sleep that never happened: the lid closed on battery, not
// docked, and the laptop still awake two minutes on. Then it logs one line,
// gives one notice, and at the end of the spell (the lid opened, a real
// sleep, the charger, the end of the process) keeps a "lid closed" record.
// On the charger the lid is not read.
class LidGuard {
public:
    // tracker, when given, tells a suspend that failed from a real sleep.
    LidGuard(const Clock& clock, LidSource& lid, SleepLedger& ledger, const SleepTracker* tracker = nullptr);

    // Every tick that read the battery, after the sleep tracker's.
    void readableTick(const TickReading& reading, bool missedHeartbeat, double capacityMAh);
    // After the note's own tick: charge is the monitor's lastPercentage.
    void willSleep(double charge);
    // An orderly end: the spell so far is kept.
    void processEnding();

    bool inSpell() const { return spell_.has_value(); }
    // The "lid closed" records this guard kept: the Sleeps tab redraws on a change.
    int recordsKept() const { return recordsKept_; }

    // Past logind's hold-off (30 s after boot or resume) and delay (5 s).
    static constexpr double kAwakeAfterSeconds = 120;

    // The opt-in action: with suspendWithLidClosed=1 in the store, after
    // suspendWithLidClosedMinutes (default 5, at least 2) of a spell, and no
    // block sleep lock of the user's own (userId), ask logind to suspend,
    // once a spell. Read at each closing; absent, never.
    PreferenceStore* settings = nullptr;
    std::uint32_t userId = 0;
    static constexpr const char* kSuspendKey = "suspendWithLidClosed";
    static constexpr const char* kSuspendMinutesKey = "suspendWithLidClosedMinutes";

    std::function<void(const LidNotice&)> noticed;
    std::function<void(const SleepRecord&)> recorded;

private:
    struct Spell {
        double start = 0;
        double charge = 0;
        std::optional<double> volts;
        bool warned = false;
        bool suspendFailed = false;
        std::optional<double> suspendAfter;
        bool suspendAsked = false;
        std::optional<std::string> reason;
    };
    struct Moment {
        double time = 0;
        double charge = 0;
    };
    void warn(const TickReading& reading, double now);
    void suspendIfAllowed(const TickReading& reading, double now);
    std::optional<double> suspendAfterSetting() const;
    void endSpell(const Moment& end, std::optional<double> volts);
    bool lastSuspendFailed() const;

    const Clock& clock_;
    LidSource& lid_;
    SleepLedger& ledger_;
    const SleepTracker* tracker_;
    std::optional<Spell> spell_;
    std::optional<Moment> lastTick_;
    std::optional<Moment> note_;
    double capacityMAh_ = 0;
    int recordsKept_ = 0;
};

// The record of a spell awake with the lid closed: how = "lid closed".
SleepRecord lidClosedRecord(double start, double end, double chargeBefore, double chargeAfter,
                            std::optional<double> volts, double capacityMAh);

} // namespace drainwatch
