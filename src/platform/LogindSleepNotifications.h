// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/MonitorServices.h"
#include "sleep/LidState.h"

#include <QObject>

#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;
struct sd_bus;
struct sd_bus_slot;

namespace drainwatch {

// Sleep and wake from systemd-logind's PrepareForSleep on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS when set). A "delay" inhibitor lock makes logind
// wait for willSleep to end before the machine suspends: it is released once
// willSleep has run and taken again after waking.
//
// The bus is sd-bus (libsystemd) driven by the Qt event loop: a socket
// notifier on its descriptor and, while sd-bus waits for a deadline, a timer.
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

    // logind's Manager properties and its inhibitor locks, asked at once;
    // empty without logind or where the call fails.
    std::optional<bool> managerFlag(const char* property);
    std::optional<std::string> managerText(const char* property);
    std::optional<std::vector<Inhibitor>> inhibitors();
    // logind's LidClosed, asked once and then kept from its PropertiesChanged
    // signals: no call on the bus while the lid stays as it is.
    std::optional<bool> lidClosed();
    // Suspend(false): polkit lets the active session's user, without asking.
    // Empty when logind agreed, else its words.
    std::string suspend();

private:
    void onPrepareForSleep(bool start);
    void process();
    void watch();
    void disconnectFromBus();
    void takeLock();
    void releaseLock();

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    sd_bus_slot* lidMatch_ = nullptr;
    // Children of this object, there while the bus is.
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;
    QTimer* deadline_ = nullptr;
    // A PrepareForSleep read by sd_bus_process, handled once that returns.
    std::optional<bool> received_;
    // LidClosed as logind last said; asked again while unknown.
    std::optional<bool> lidClosed_;
    int lockFd_ = -1;
    bool lockRefusalReported_ = false;
    std::function<void()> willSleep_;
    std::function<void()> didWake_;
};

} // namespace drainwatch
