#pragma once

#include "monitor/MonitorServices.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>

namespace drainwatch {

// Sleep and wake from systemd-logind's PrepareForSleep on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS when set). A "delay" inhibitor lock makes logind
// wait for willSleep to end before the machine suspends: it is released once
// willSleep has run and taken again after waking.
class LogindSleepNotifications final : public QObject, public SleepNotifications {
    Q_OBJECT
public:
    explicit LogindSleepNotifications(QObject* parent = nullptr);
    ~LogindSleepNotifications() override;

    // False, with one line on standard error, when there is no system bus or
    // no logind on it; sleep is then found only from gaps between ticks.
    bool connectToSystemBus();
    void subscribe(std::function<void()> willSleep, std::function<void()> didWake) override;
    bool holdsInhibitor() const { return lockFd_ >= 0; }

private slots:
    void onPrepareForSleep(bool start);

private:
    void takeLock();
    void releaseLock();

    const QString connectionName_;
    std::optional<QDBusConnection> bus_;
    int lockFd_ = -1;
    bool lockRefusalReported_ = false;
    std::function<void()> willSleep_;
    std::function<void()> didWake_;
};

} // namespace drainwatch
