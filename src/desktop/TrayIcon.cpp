// SPDX-License-Identifier: MIT
#include "desktop/TrayIcon.h"

#include "desktop/BatteryIcon.h"
#include "sleep/SleepText.h"

#include <QApplication>
#include <QEvent>

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace drainwatch {

std::string trayToolTip(const MonitorFigures& figures, const std::string& name, const std::string& remaining,
                        const std::optional<SleepRecord>& lastSleep, std::optional<double> asleepHours)
{
    std::vector<std::string> parts;
    if (figures.charge && std::isfinite(*figures.charge))
        parts.push_back(fmt::format("{:.1f}%", *figures.charge * 100));
    if (figures.ratePerHour && std::isfinite(*figures.ratePerHour)) {
        const double rate = *figures.ratePerHour;
        parts.push_back((rate < 0 ? "charging " : "") + fmt::format("{:.1f} %/h", std::fabs(rate)));
    }
    std::string tip = name + ": no battery reading";
    if (!parts.empty()) {
        if (!remaining.empty() && remaining.front() != '(')
            parts.push_back(remaining + " left");
        if (asleepHours && std::isfinite(*asleepHours))
            parts.push_back(sleepDurationText(*asleepHours * 3600) + " asleep");
        tip = fmt::format("{}: {}", name, fmt::join(parts, ", "));
    }
    if (!lastSleep)
        return tip;
    return tip + '\n' + lastSleepLine(*lastSleep);
}

TrayIcon::TrayIcon(std::string name, QObject* parent) : QObject(parent), name_(std::move(name)), icon_(this)
{
    menu_.addAction(tr("Show Window"), this, &TrayIcon::showWindowRequested);
    menu_.addAction(tr("Show Log"), this, &TrayIcon::showLogRequested);
    menu_.addAction(tr("Reset"), this, &TrayIcon::resetRequested);
    startAtLogin_ = menu_.addAction(tr("Start at Login"));
    startAtLogin_->setCheckable(true);
    menu_.addSeparator();
    menu_.addAction(tr("Quit"), this, &TrayIcon::quitRequested);
    icon_.setContextMenu(&menu_);
    draw(BatteryLook{std::nullopt, false, darkPalette()});
    if (qApp)
        qApp->installEventFilter(this);
    icon_.setToolTip(QString::fromStdString(trayToolTip({}, name_)));
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showWindowRequested();
    });
}

void TrayIcon::update(const MonitorFigures& figures, bool pluggedIn, const std::string& remaining,
                      const std::optional<SleepRecord>& lastSleep, std::optional<double> asleepHours)
{
    icon_.setToolTip(QString::fromStdString(trayToolTip(figures, name_, remaining, lastSleep, asleepHours)));
    // The charge to a 40th, the steps the fill can show: redrawn only when
    // it would change visibly.
    std::optional<double> level;
    if (figures.charge && std::isfinite(*figures.charge))
        level = std::floor(std::clamp(*figures.charge, 0.0, 1.0) * 40) / 40;
    draw(BatteryLook{level, pluggedIn, look_.darkPanel});
}

void TrayIcon::draw(BatteryLook look)
{
    if (drawn_ && look == look_)
        return;
    drawn_ = true;
    look_ = look;
    icon_.setIcon(batteryIcon(look_));
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        BatteryLook look = look_;
        look.darkPanel = darkPalette();
        draw(look);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace drainwatch
