#include "app/TrayIcon.h"

#include "app/BatteryIcon.h"

#include <cmath>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace drainwatch {

std::string trayToolTip(const MonitorFigures& figures, const std::string& name)
{
    std::vector<std::string> parts;
    if (figures.charge && std::isfinite(*figures.charge))
        parts.push_back(fmt::format("{:.1f}%", *figures.charge * 100));
    if (figures.ratePerHour && std::isfinite(*figures.ratePerHour)) {
        const double rate = *figures.ratePerHour;
        parts.push_back((rate < 0 ? "charging " : "") + fmt::format("{:.1f} %/h", std::fabs(rate)));
    }
    if (parts.empty())
        return name + ": no battery reading";
    return fmt::format("{}: {}", name, fmt::join(parts, ", "));
}

TrayIcon::TrayIcon(std::string name, QObject* parent) : QObject(parent), name_(std::move(name)), icon_(this)
{
    menu_.addAction(tr("Show Window"), this, &TrayIcon::showWindowRequested);
    menu_.addAction(tr("Show Log"), this, &TrayIcon::showLogRequested);
    menu_.addAction(tr("Reset"), this, &TrayIcon::resetRequested);
    menu_.addSeparator();
    menu_.addAction(tr("Quit"), this, &TrayIcon::quitRequested);
    icon_.setContextMenu(&menu_);
    icon_.setIcon(batteryIcon(std::nullopt));
    icon_.setToolTip(QString::fromStdString(trayToolTip({}, name_)));
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showWindowRequested();
    });
}

void TrayIcon::update(const MonitorFigures& figures, const std::string& sleepLines)
{
    const std::string tip = trayToolTip(figures, name_);
    icon_.setToolTip(QString::fromStdString(sleepLines.empty() ? tip : tip + '\n' + sleepLines));
    // Redrawn only when the fill would change visibly.
    const int level = figures.charge && std::isfinite(*figures.charge) ? static_cast<int>(*figures.charge * 40) : -1;
    if (level != shownLevel_) {
        shownLevel_ = level;
        icon_.setIcon(batteryIcon(figures.charge));
    }
}

} // namespace drainwatch
