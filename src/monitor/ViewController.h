// SPDX-License-Identifier: MIT
#pragma once

#include "activity/ActivityRecorder.h"
#include "battery/BatteryListener.h"
#include "history/HistoryRecorder.h"
#include "measure/Averages.h"
#include "measure/Clock.h"
#include "measure/HeartbeatTimer.h"
#include "measure/PreferenceStore.h"
#include "monitor/MonitorServices.h"
#include "sleep/LidGuard.h"
#include "sleep/SleepTracker.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace drainwatch {

struct MonitorServices {
    const Clock& clock;
    RegistrySource& battery;
    PreferenceStore& store;
    RepeatingTimer& timer;
    SleepNotifications& sleep;
    FileOpener& fileOpener;
};

// The figures behind the texts, as the last tick that could read the battery
// found them; for the tray and the JSON output. Empty where unknown.
struct MonitorFigures {
    std::optional<double> charge;         // fraction of the full charge
    std::optional<double> currentMA;      // positive while discharging
    std::optional<double> ratePerHour;    // percent of the full charge per hour, now
    std::optional<double> recentPerHour;  // over the last 96 samples
    std::optional<double> averagePerHour; // since the count began
    std::optional<double> heldAt;         // the charger is in, and a charge limit holds the battery at this charge
};

// The monitor: owns every counter of a discharge count, runs the 5-second
// tick, follows charger, sleep and wake, writes the window's texts and the
// event log, and saves its state at every orderly end and before a sleep.
class ViewController {
public:
    explicit ViewController(MonitorServices services);
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Outlets; an absent one is skipped.
    TextField* timeOnBatteryLabel = nullptr;
    TextField* timeAwakeLabel = nullptr;
    CheckBox* useWattsCheckbox = nullptr;
    TextField* healthLabel = nullptr;
    TextField* consumptionLabel = nullptr;
    TextField* usedInSleepLabel = nullptr;
    TextField* totalRuntimeLabel = nullptr;
    TextField* plannedRuntimeLabel = nullptr;
    TextField* currentChargeLabel = nullptr;
    TextField* countingSinceLabel = nullptr;

    const double timerInterval = 5.0;
    const std::int64_t minimumBatteryCycleTime = 600;
    const std::int64_t energyUnit = 2;

    HeartbeatTimer dischargeTimer;
    HeartbeatTimer acTimer;
    BatteryListener batteryState;
    Average amperageAverage;
    PerfectRollingAverage amperageRollingAverage;

    double batteryVoltage = 0;
    // Volts that turn the currents into watts, read at the last tick: on a
    // battery that counts energy the mA are not at the voltage of the moment.
    double powerVoltage = 0;
    double batteryTotalCapacity = 0;
    double lastPercentage = 0;
    double startedCountingAtPercentage = 0;
    double usedDuringSleepPercentage = 0;
    bool sleeping = false;
    bool visible = false;
    bool lastCountingTimeState = true;

    // Told of every tick that read the battery and of the sleep notes, to
    // keep a record of each sleep; absent, no records are kept.
    SleepTracker* sleepTracker = nullptr;
    // Told of the readable ticks, the events and the charge statistics, to
    // keep the battery's history; absent, none is kept.
    HistoryRecorder* historyRecorder = nullptr;
    // Told of the same ticks and notes, to catch a laptop left awake with
    // the lid closed; absent, the lid is never read.
    LidGuard* lidGuard = nullptr;
    // Told of the readable ticks and the sleeps, to learn what used the
    // battery while awake; absent, the activity is never read.
    ActivityRecorder* activityRecorder = nullptr;

    // Called after every display refresh (terminal redraw, tray tooltip).
    std::function<void()> displayUpdated;

    // Lifecycle, in the order the platform calls them.
    void viewDidLoad();
    void viewDidAppear();
    void viewDidDisappear();
    void windowWillClose();
    // An orderly end of the process (Quit, SIGTERM, logout): save.
    void applicationWillTerminate();

    // Commands.
    void resetButtonClicked();
    // False when no application could open the log.
    bool showLog();
    // The watts check box changed: rewrite the texts in the chosen unit.
    void useWattsToggled();

    void receiveSleepNote();
    void receiveWakeNote();

    void doTimedLogic();
    void loadData();
    // Writes the nine keys and puts them on disk.
    void saveData();

    std::int64_t estimatedRuntimeSeconds(double chargePercentage, bool removeSleep) const;
    std::string formatPower(double current) const;
    MonitorFigures figures() const;

private:
    struct Reading {
        bool charging = false;
        double charge = 0;
        double current = 0;
    };
    std::optional<Reading> readBattery();
    void heartbeatMissed(double previousPercentage);
    void resetTimers();
    std::optional<double> knownPowerVoltage() const;
    std::optional<double> chargeHeldAt(bool externalPower, double charge) const;
    void updateTime();
    void showStatus(bool charging, double charge, double current);
    void showWithoutReading();
    void showNoBattery();
    std::string healthText() const;
    void writeChargeSummary(double endPercentage);
    std::string chargeText() const;
    // A sample of the battery now, unless it is unreadable or asleep; in a
    // tick, of what the tick read.
    void recordSample(const char* event);
    void recordSample(const char* event, const Reading& reading);
    std::string displayPower(double current) const;
    bool useWatts() const;

    MonitorServices services_;
    std::optional<double> lastCurrent_;
    std::optional<double> lastCharge_;
    std::optional<double> heldAt_;
    // No full reading yet since the start or the last wake.
    bool rateAwaited_ = true;
    // The first readable tick of a run finds the charger as it is, not
    // connected or disconnected.
    bool chargerSeen_ = false;
    bool quitRecorded_ = false;
};

// The nine text outlets in the order of the monitor's fields, by name.
struct TextOutlet {
    const char* name;
    TextField* ViewController::*member;
};
inline constexpr std::array<TextOutlet, 9> kTextOutlets = {{
    {"timeOnBatteryLabel", &ViewController::timeOnBatteryLabel},
    {"timeAwakeLabel", &ViewController::timeAwakeLabel},
    {"healthLabel", &ViewController::healthLabel},
    {"consumptionLabel", &ViewController::consumptionLabel},
    {"usedInSleepLabel", &ViewController::usedInSleepLabel},
    {"totalRuntimeLabel", &ViewController::totalRuntimeLabel},
    {"plannedRuntimeLabel", &ViewController::plannedRuntimeLabel},
    {"currentChargeLabel", &ViewController::currentChargeLabel},
    {"countingSinceLabel", &ViewController::countingSinceLabel},
}};

// "%02d:%02d" of hours and minutes, truncated; hours are not wrapped.
std::string durationText(std::int64_t seconds);

} // namespace drainwatch
