// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/BatteryIcon.h"
#include "monitor/ViewController.h"
#include "sleep/SleepRecord.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <string>

namespace drainwatch {

// "Drainwatch: 74.1%, 23.1 %/h, 03:12 left, 148 h 20 min asleep"; what is
// unknown is left out. remaining: the window's text for it, a duration or a
// note in brackets; asleepHours: how long the charge would last asleep.
// Then the last sleep, where there is one, on a line of its own.
std::string trayToolTip(const MonitorFigures& figures, const std::string& name, const std::string& remaining = {},
                        const std::optional<SleepRecord>& lastSleep = {}, std::optional<double> asleepHours = {});

// The icon in the desktop's tray, where there is one: the charge and the
// charger drawn, charge, rate and time left in its tooltip, the window's
// commands in its menu. Redrawn when the desktop's theme turns dark or light.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(std::string name, QObject* parent = nullptr);

    void show() { icon_.show(); }
    void update(const MonitorFigures& figures, bool pluggedIn, const std::string& remaining,
                const std::optional<SleepRecord>& lastSleep = {}, std::optional<double> asleepHours = {});
    const BatteryLook& look() const { return look_; }
    QString toolTip() const { return icon_.toolTip(); }
    QMenu& menu() { return menu_; }
    QAction& startAtLoginAction() { return *startAtLogin_; }

signals:
    void showWindowRequested();
    void showLogRequested();
    void resetRequested();
    void quitRequested();

private:
    std::string name_;
    QMenu menu_;
    QAction* startAtLogin_ = nullptr;
    QSystemTrayIcon icon_;
    BatteryLook look_;
    bool drawn_ = false;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void draw(BatteryLook look);
};

} // namespace drainwatch
