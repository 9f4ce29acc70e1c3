// SPDX-License-Identifier: MIT
#include "sleep/LidGuard.h"

#include "log/Logger.h"
#include "sleep/SleepText.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

LidGuard::LidGuard(const Clock& clock, LidSource& lid, SleepLedger& ledger, const SleepTracker* tracker)
    : clock_(clock), lid_(lid), ledger_(ledger), tracker_(tracker)
{
}

void LidGuard::readableTick(const TickReading& reading, bool missedHeartbeat, double capacityMAh)
{
    const double now = clock_.now();
    if (capacityMAh > 0 && std::isfinite(capacityMAh))
        capacityMAh_ = capacityMAh;
    if (note_) {
        // A suspend that failed left the laptop awake: the spell goes on.
        if (spell_ && lastSuspendFailed())
            spell_->suspendFailed = true;
        else
            endSpell(*note_, reading.volts);
        note_.reset();
    } else if (missedHeartbeat && lastTick_) {
        // It slept unnoticed (or the process was stopped) from the last tick.
        endSpell(*lastTick_, reading.volts);
    }
    lastTick_ = Moment{now, reading.charge};

    if (reading.onExternalPower) {
        endSpell(*lastTick_, reading.volts);
        return;
    }
    const LidState lid = lid_.read();
    if (lid.closed != true || lid.docked) {
        endSpell(*lastTick_, reading.volts);
        return;
    }
    if (!spell_)
        spell_ = Spell{now, reading.charge, reading.volts, false, false, suspendAfterSetting(), false, std::nullopt};
    if (!spell_->warned && now - spell_->start >= kAwakeAfterSeconds)
        warn(reading, now);
    if (spell_->suspendAfter && !spell_->suspendAsked && now - spell_->start >= *spell_->suspendAfter)
        suspendIfAllowed(reading, now);
}

std::optional<double> LidGuard::suspendAfterSetting() const
{
    if (!settings || settings->integerForKey(kSuspendKey) != 1)
        return std::nullopt;
    std::int64_t minutes = settings->integerForKey(kSuspendMinutesKey);
    // Unset (0) is the default; below the guard's two minutes it would
    // suspend before anything could be said.
    if (minutes <= 0)
        minutes = 5;
    minutes = std::clamp<std::int64_t>(minutes, 2, 24 * 60);
    return static_cast<double>(minutes) * 60;
}

void LidGuard::suspendIfAllowed(const TickReading& reading, double now)
{
    spell_->suspendAsked = true;
    const std::string awake = sleepDurationText(now - spell_->start);
    // The user's own video call or download is the user's wish to stay awake.
    const LidHolders holders = lid_.holders();
    if (holders.inhibitors)
        for (const Inhibitor& lock : *holders.inhibitors)
            if (lock.mode == "block" && lock.holds("sleep") && lock.uid == userId) {
                std::string who = lock.who.empty() ? std::string("a program") : lock.who;
                // Another program's words, kept to one line of the log.
                std::replace_if(
                    who.begin(), who.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
                Logger::main().debug("Not suspending after %s with the lid closed: %s holds sleep", awake, who);
                return;
            }
    Logger::main().debug("Drainwatch asks logind to suspend: %s awake with the lid closed at %.1f%%", awake,
                         reading.charge * 100);
    if (const std::string refusal = lid_.suspend(); !refusal.empty())
        Logger::main().debug("logind did not suspend: %s", refusal);
}

void LidGuard::warn(const TickReading& reading, double now)
{
    spell_->warned = true;
    const std::string reason = lidAwakeReason(lid_.holders(), spell_->suspendFailed);
    spell_->reason = reason;
    Logger::main().debug("Awake with the lid closed at %.1f%%: %s", reading.charge * 100, reason);
    if (noticed)
        noticed(lidNotice(reason, (spell_->charge - reading.charge) * 100, now - spell_->start));
}

void LidGuard::willSleep(double charge)
{
    if (spell_)
        note_ = Moment{clock_.now(), charge};
}

void LidGuard::processEnding()
{
    if (spell_)
        endSpell(Moment{clock_.now(), lastTick_ ? lastTick_->charge : spell_->charge}, std::nullopt);
}

void LidGuard::endSpell(const Moment& end, std::optional<double> volts)
{
    if (!spell_)
        return;
    const Spell spell = *spell_;
    spell_.reset();
    // A spell the guard did not speak of was not one: the lid opened in time.
    if (!spell.warned)
        return;
    SleepRecord record = lidClosedRecord(spell.start, end.time, spell.charge, end.charge,
                                         spell.volts ? spell.volts : volts, capacityMAh_);
    record.heldBy = spell.reason;
    ledger_.add(record);
    ++recordsKept_;
    if (recorded)
        recorded(record);
}

bool LidGuard::lastSuspendFailed() const
{
    if (!tracker_ || !tracker_->lastRecord() || !note_)
        return false;
    const SleepRecord& last = *tracker_->lastRecord();
    return last.end >= note_->time && last.hasFlag("failed") && last.cycles.value_or(0) == 0;
}

SleepRecord lidClosedRecord(double start, double end, double chargeBefore, double chargeAfter,
                            std::optional<double> volts, double capacityMAh)
{
    SleepRecord record;
    record.how = "lid closed";
    record.start = start;
    record.end = std::max(start, end);
    record.onBattery = true;
    record.chargeBefore = chargeBefore;
    record.chargeAfter = chargeAfter;
    const double used = chargeBefore - chargeAfter;
    record.usedPercentage = used * 100;
    if (capacityMAh > 0) {
        record.usedMAh = used * capacityMAh;
        if (volts)
            record.usedMWh = *record.usedMAh * *volts;
    }
    const double hours = (record.end - record.start) / 3600;
    if (hours > 0 && used >= 0) {
        record.ratePerHour = record.usedPercentage / hours;
        if (record.usedMWh)
            record.milliwatts = *record.usedMWh / hours;
    }
    if (used < 0)
        record.flags.push_back("charged");
    return record;
}

} // namespace drainwatch
