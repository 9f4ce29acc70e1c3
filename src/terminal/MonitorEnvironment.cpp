// SPDX-License-Identifier: MIT
#include "terminal/MonitorEnvironment.h"

#include "battery/SimulatedBattery.h"
#include "battery/SysfsRegistry.h"
#include "log/Logger.h"
#include "sleep/SleepText.h"

#include <unistd.h>

namespace drainwatch {

std::unique_ptr<RegistrySource> MonitorEnvironment::makeBattery(bool simulate, const Clock& clock,
                                                                PreferenceStore* store)
{
    if (simulate)
        return std::make_unique<SimulatedBattery>(clock, store);
    return std::make_unique<SysfsRegistry>(SysfsSnapshotSource::powerSupplyFolder(), clock);
}

MonitorEnvironment::MonitorEnvironment(const Identity& identity, bool simulate, bool announceLog,
                                       FileOpener& fileOpener)
    : store_(QString::fromStdString(identity.storeFile)),
      battery_(makeBattery(simulate, clock_, &store_)),
      fileOpener_(fileOpener),
      system_(SysfsSnapshotSource::defaultRoot()),
      database_(SleepLedger::defaultPath(identity.historyFile), HistoryDatabase::Access::ReadWrite),
      ledger_(database_),
      history_(database_),
      recorder_(clock_, history_),
      tracker_(clock_, system_, ledger_),
      lid_(ProcLidReader::defaultProcDir(), sleep_, clock_),
      guard_(clock_, lid_, ledger_, &tracker_),
      activity_(SysfsSnapshotSource::defaultRoot(), ProcLidReader::defaultProcDir(),
                SystemActivitySource::defaultDataDirs()),
      activityStore_(database_),
      activityRecorder_(clock_, activity_, activityStore_)
{
    Logger::installMain(std::make_unique<Logger>(Logger::defaultPath(identity.logFile), clock_, announceLog));
    // Without logind the heartbeat still finds every sleep, as a gap.
    sleep_.connectToSystemBus();
}

HealthInWh::Reader MonitorEnvironment::energyReader()
{
    auto* sysfs = dynamic_cast<SysfsRegistry*>(battery_.get());
    if (!sysfs)
        return {};
    return [sysfs] { return sysfs->energyCapacity(); };
}

MonitorServices MonitorEnvironment::services()
{
    return MonitorServices{clock_, *battery_, store_, timer_, sleep_, fileOpener_};
}

void MonitorEnvironment::attach(ViewController& controller, bool notify)
{
    controller.sleepTracker = &tracker_;
    controller.historyRecorder = &recorder_;
    controller.lidGuard = &guard_;
    controller.activityRecorder = &activityRecorder_;
    guard_.settings = &store_;
    guard_.userId = ::getuid();
    if (!notify || store_.integerForKey("sleepNotificationsOff") != 0)
        return;
    tracker_.recorded = [this](const SleepRecord& record) {
        if (const auto notice = sleepNotice(record, tracker_.lastBaselineRate(), SysfsSnapshotSource::defaultRoot()))
            notifier_.notify(notice->summary, notice->body);
    };
    guard_.noticed = [this](const LidNotice& notice) { notifier_.notify(notice.summary, notice.body); };
}

} // namespace drainwatch
