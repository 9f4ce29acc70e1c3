// SPDX-License-Identifier: MIT
#include "monitor/ViewController.h"

#include "log/Logger.h"

#include <cstdio>

namespace drainwatch {

namespace {

constexpr std::int64_t kRollingWindowSamples = 96;
constexpr double kChargerRise = 0.02;
constexpr double kDischargeHeartbeatSeconds = 15.0;
// A heartbeat further ahead of the clock than this was not written by a
// clock merely set back.
constexpr double kLatestHeartbeatAhead = 86400.0;

// Why the saved times of a count cannot be; empty when they can (no count is one).
std::string impossibility(const HeartbeatTimer& timer, double now)
{
    if (timer.startedAt == 0 && timer.lastHeartBeat == 0)
        return {};
    if (timer.startedAt < 0)
        return fmt::format("{}.startedAt is before 1970", timer.savePrefix);
    if (timer.startedAt > timer.lastHeartBeat)
        return fmt::format("{}.startedAt is after its last heartbeat", timer.savePrefix);
    if (timer.lastHeartBeat > now + kLatestHeartbeatAhead)
        return fmt::format("{}.lastHeartBeat is more than a day ahead of the clock", timer.savePrefix);
    return {};
}

} // namespace

ViewController::ViewController(MonitorServices services)
    : dischargeTimer(services.clock, services.store, "batteryUsage", kDischargeHeartbeatSeconds),
      acTimer(services.clock, services.store, "acUsage", std::nullopt),
      batteryState(services.battery),
      amperageAverage(services.store, "amperageAverage"),
      amperageRollingAverage(kRollingWindowSamples),
      services_(services)
{
}

void ViewController::viewDidLoad()
{
    services_.sleep.subscribe([this] { receiveSleepNote(); }, [this] { receiveWakeNote(); });
    loadData();
    if (sleepTracker)
        sleepTracker->processStarted(dischargeTimer.lastHeartBeat, lastPercentage);
    Logger::main().debug("Started app at %s, used in sleep %.1f%%", chargeText(), usedDuringSleepPercentage * 100);
    services_.timer.start(timerInterval, [this] { doTimedLogic(); });
    batteryTotalCapacity = batteryState.maxCapacityMAh().value_or(0);
    recordSample("start");
    doTimedLogic();
    // No counterpart of a process activity: Linux does not throttle the
    // timers of background programs, and a battery monitor must not keep
    // the laptop from sleeping.
}

void ViewController::loadData()
{
    lastPercentage = services_.store.doubleForKey("lastPercentage");
    startedCountingAtPercentage = services_.store.doubleForKey("startedCountingAtPercentage");
    usedDuringSleepPercentage = services_.store.doubleForKey("usedDuringSleepPercentage");
    // Kept, such a count would be saved back for ever and show nonsense:
    // start afresh, as on a first run.
    std::string why = impossibility(dischargeTimer, services_.clock.now());
    if (why.empty())
        why = impossibility(acTimer, services_.clock.now());
    if (why.empty())
        return;
    std::fprintf(stderr, "Drainwatch: the saved count cannot be right (%s); starting a new count.\n", why.c_str());
    std::fflush(stderr);
    for (HeartbeatTimer* timer : {&dischargeTimer, &acTimer})
        timer->startedAt = timer->lastHeartBeat = 0;
    lastPercentage = startedCountingAtPercentage = usedDuringSleepPercentage = 0;
    amperageAverage.reset();
}

void ViewController::saveData()
{
    services_.store.setDouble(lastPercentage, "lastPercentage");
    services_.store.setDouble(startedCountingAtPercentage, "startedCountingAtPercentage");
    services_.store.setDouble(usedDuringSleepPercentage, "usedDuringSleepPercentage");
    dischargeTimer.saveData();
    acTimer.saveData();
    amperageAverage.saveData();
    services_.store.synchronize();
}

std::optional<ViewController::Reading> ViewController::readBattery()
{
    const auto charging = batteryState.isCharging();
    const auto charge = batteryState.chargePercentage();
    const auto current = batteryState.amperage();
    if (!charging || !charge || !current)
        return std::nullopt;
    if (const auto volts = batteryState.voltage())
        batteryVoltage = *volts;
    if (const auto volts = batteryState.powerVoltage())
        powerVoltage = *volts;
    return Reading{*charging, *charge, *current};
}

void ViewController::doTimedLogic()
{
    if (sleeping)
        return;
    if (historyRecorder)
        historyRecorder->tick();
    if (!(batteryTotalCapacity > 0))
        batteryTotalCapacity = batteryState.maxCapacityMAh().value_or(0);

    // An unreadable battery counts nothing: the spell is later found as a
    // gap, like a time the program did not run.
    const auto reading = readBattery();
    if (!reading) {
        showWithoutReading();
        return;
    }
    rateAwaited_ = false;
    const double charge = reading->charge;
    lastCharge_ = charge;
    lastCurrent_ = reading->current;

    // No count was ever started (a first run): start a clean one here rather
    // than summing up a count that began in 1970.
    if (dischargeTimer.startedAt == 0) {
        dischargeTimer.resetAndStart();
        acTimer.resetAndStart();
        lastPercentage = startedCountingAtPercentage = charge;
    }

    // Heartbeats before the charger test, so that a sleep or a stop that just
    // ended has left the awake time before the summary sees it.
    const bool missedHeartbeat = dischargeTimer.heartbeat();
    if (missedHeartbeat)
        heartbeatMissed(lastPercentage);
    acTimer.heartbeat();

    const char* chargerEvent = nullptr;
    if (reading->charging || charge > lastPercentage + kChargerRise) {
        if (lastCountingTimeState && chargerSeen_)
            chargerEvent = "charger connected";
        if (dischargeTimer.currentTimeSeconds() > minimumBatteryCycleTime)
            writeChargeSummary(lastPercentage);
        else if (lastCountingTimeState)
            Logger::main().debug("Connected charger at %s", chargeText());
        startedCountingAtPercentage = charge;
        usedDuringSleepPercentage = 0;
        resetTimers();
        lastCountingTimeState = false;
    } else {
        if (!lastCountingTimeState)
            Logger::main().debug("Disconnected charger at %s", chargeText());
        if (!lastCountingTimeState && chargerSeen_)
            chargerEvent = "charger disconnected";
        lastCountingTimeState = true;
    }
    chargerSeen_ = true;

    if (charge > startedCountingAtPercentage)
        startedCountingAtPercentage = charge;
    if (reading->current > 0) {
        amperageAverage.recordSample(reading->current);
        amperageRollingAverage.recordSample(reading->current);
    }
    if (sleepTracker)
        sleepTracker->readableTick({charge, reading->charging, knownPowerVoltage()}, missedHeartbeat,
                                   batteryTotalCapacity);
    if (lidGuard)
        lidGuard->readableTick({charge, reading->charging, knownPowerVoltage()}, missedHeartbeat, batteryTotalCapacity);
    if (activityRecorder) {
        const auto volts = knownPowerVoltage();
        const bool discharging = lastCountingTimeState && reading->current >= 0;
        activityRecorder->readableTick(discharging,
                                       volts ? std::optional<double>(reading->current / 1000 * *volts) : std::nullopt,
                                       missedHeartbeat);
    }
    if (missedHeartbeat)
        recordSample("missed heartbeat", *reading);
    if (chargerEvent)
        recordSample(chargerEvent, *reading);
    if (historyRecorder && historyRecorder->sampleDue())
        recordSample("", *reading);
    lastPercentage = charge;
    showStatus(reading->charging, charge, reading->current);
}

void ViewController::heartbeatMissed(double previousPercentage)
{
    const double now = batteryState.chargePercentage().value_or(lastCharge_.value_or(previousPercentage));
    const double used = previousPercentage - now;
    if (used > 0) {
        Logger::main().debug("Missed heartbeat, used %g%%", used * 100);
        usedDuringSleepPercentage += used;
    }
}

// The sleep records' mWh and the samples' watts: mAh and mA times these volts.
std::optional<double> ViewController::knownPowerVoltage() const
{
    return powerVoltage > 0 ? std::optional<double>(powerVoltage) : std::nullopt;
}

void ViewController::resetTimers()
{
    dischargeTimer.resetAndStart();
    acTimer.resetAndStart();
    amperageAverage.reset();
    amperageRollingAverage.reset();
}

void ViewController::receiveSleepNote()
{
    Logger::main().debug("Entering sleep at %s", chargeText());
    doTimedLogic();
    recordSample("will sleep");
    if (sleepTracker)
        sleepTracker->willSleep(lastPercentage, knownPowerVoltage());
    if (lidGuard)
        lidGuard->willSleep(lastPercentage);
    if (activityRecorder)
        activityRecorder->willSleep();
    sleeping = true;
    // The battery may die in sleep: the count must already be on disk, and
    // the samples too.
    saveData();
    if (historyRecorder)
        historyRecorder->flush();
    if (activityRecorder)
        activityRecorder->flush();
}

void ViewController::receiveWakeNote()
{
    Logger::main().debug("Waking from sleep at %s", chargeText());
    sleeping = false;
    rateAwaited_ = true;
    if (sleepTracker)
        sleepTracker->didWake();
    recordSample("wake");
    doTimedLogic();
}

void ViewController::viewDidAppear()
{
    visible = true;
    doTimedLogic();
}

void ViewController::viewDidDisappear() { visible = false; }

void ViewController::windowWillClose()
{
    Logger::main().debug("Quitting app");
    saveData();
    if (historyRecorder)
        historyRecorder->flush();
    if (activityRecorder)
        activityRecorder->flush();
}

void ViewController::applicationWillTerminate()
{
    // A logout may call this before the quit: one quit sample a run.
    if (!quitRecorded_)
        recordSample("quit");
    quitRecorded_ = true;
    if (lidGuard)
        lidGuard->processEnding();
    if (activityRecorder)
        activityRecorder->processEnding();
    saveData();
    if (historyRecorder)
        historyRecorder->flush();
}

void ViewController::recordSample(const char* event)
{
    if (!historyRecorder || sleeping)
        return;
    if (const auto reading = readBattery())
        recordSample(event, *reading);
}

void ViewController::recordSample(const char* event, const Reading& reading)
{
    if (!historyRecorder || sleeping)
        return;
    HistorySample sample;
    sample.charge = reading.charge;
    sample.currentMA = reading.current;
    sample.onExternalPower = reading.charging;
    sample.volts = knownPowerVoltage();
    sample.fullMAh = batteryState.maxCapacityMAh();
    sample.designMAh = batteryState.designCapacityMAh();
    sample.cycles = batteryState.batt.cycleCount();
    sample.event = event;
    historyRecorder->record(sample);
}

void ViewController::resetButtonClicked()
{
    dischargeTimer.resetAndStart();
    updateTime();
}

bool ViewController::showLog() { return services_.fileOpener.open(Logger::main().filePath().string()); }

void ViewController::useWattsToggled() { updateTime(); }

std::string ViewController::chargeText() const
{
    const auto charge = batteryState.chargePercentage();
    return charge ? fmt::sprintf("%.1f%%", *charge * 100) : std::string("unknown charge");
}

MonitorFigures ViewController::figures() const
{
    MonitorFigures result;
    result.charge = lastCharge_;
    result.currentMA = lastCurrent_;
    result.heldAt = heldAt_;
    if (batteryTotalCapacity > 0) {
        const auto perHour = [this](double current) { return current * 100 / batteryTotalCapacity; };
        if (lastCurrent_)
            result.ratePerHour = perHour(*lastCurrent_);
        result.recentPerHour = perHour(amperageRollingAverage.average());
        result.averagePerHour = perHour(amperageAverage.average());
    }
    return result;
}

} // namespace drainwatch
