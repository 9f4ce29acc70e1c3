// SPDX-License-Identifier: MIT
#pragma once

#include "activity/ActivityRecorder.h"
#include "activity/SystemActivitySource.h"
#include "battery/RegistrySource.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "measure/Clock.h"
#include "monitor/ViewController.h"
#include "platform/DesktopNotifier.h"
#include "platform/LogindLidSource.h"
#include "platform/LogindSleepNotifications.h"
#include "platform/QSettingsPreferenceStore.h"
#include "platform/QtRepeatingTimer.h"
#include "sleep/LidGuard.h"
#include "sleep/SleepLedger.h"
#include "sleep/SleepTracker.h"
#include "sleep/SystemSnapshot.h"
#include "terminal/HealthInWh.h"
#include "terminal/Options.h"

#include <memory>

namespace drainwatch {

// The real services behind the monitor: the system clock, the battery (or
// the simulated one), the settings file, a Qt timer and logind's sleep and
// wake. Installs the log of the run. Needs a QCoreApplication.
class MonitorEnvironment {
public:
    // announceLog: say on standard output where a newly created log is; not
    // on a JSON stream, which must carry nothing else.
    MonitorEnvironment(const Identity& identity, bool simulate, bool announceLog, FileOpener& fileOpener);
    MonitorEnvironment(const MonitorEnvironment&) = delete;
    MonitorEnvironment& operator=(const MonitorEnvironment&) = delete;

    MonitorServices services();
    // The battery's capacities in energy, for the health in Wh; none for
    // the simulated battery.
    HealthInWh::Reader energyReader();
    // Keeps the controller's sleep records and the battery's samples and
    // discharges in the history file, and watches the lid; notify: a desktop
    // notification after a sleep that went wrong and when the laptop stays
    // awake with the lid closed, unless the settings say sleepNotificationsOff=1.
    void attach(ViewController& controller, bool notify);
    // The samples and discharges, for the window.
    const HistoryStore& history() const { return history_; }
    // What used the battery, for the window and the status line.
    const ActivityRecorder& activity() const { return activityRecorder_; }

    // The battery of the machine, or the simulated one, which keeps its
    // charge in `store` when given one.
    static std::unique_ptr<RegistrySource> makeBattery(bool simulate, const Clock& clock,
                                                       PreferenceStore* store = nullptr);

private:
    SystemClock clock_;
    QSettingsPreferenceStore store_;
    std::unique_ptr<RegistrySource> battery_;
    QtRepeatingTimer timer_;
    LogindSleepNotifications sleep_;
    FileOpener& fileOpener_;
    SysfsSnapshotSource system_;
    // One connection for the sleep records and the samples.
    HistoryDatabase database_;
    SleepLedger ledger_;
    HistoryStore history_;
    HistoryRecorder recorder_;
    SleepTracker tracker_;
    LogindLidSource lid_;
    LidGuard guard_;
    SystemActivitySource activity_;
    ActivityStore activityStore_;
    ActivityRecorder activityRecorder_;
    DesktopNotifier notifier_;
};

} // namespace drainwatch
