#pragma once

#include "monitor/ViewController.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <string>

namespace drainwatch {

// "Drainwatch: 74.1%, 23.1 %/h"; what is unknown is left out.
std::string trayToolTip(const MonitorFigures& figures, const std::string& name);

// The icon in the desktop's tray, where there is one: charge and rate in its
// tooltip, the window's commands in its menu.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(std::string name, QObject* parent = nullptr);

    void show() { icon_.show(); }
    // sleepLines: the last sleep and the forecast, one a line; may be empty.
    void update(const MonitorFigures& figures, const std::string& sleepLines = {});
    QString toolTip() const { return icon_.toolTip(); }
    QMenu& menu() { return menu_; }

signals:
    void showWindowRequested();
    void showLogRequested();
    void resetRequested();
    void quitRequested();

private:
    std::string name_;
    QMenu menu_;
    QSystemTrayIcon icon_;
    int shownLevel_ = -1;
};

} // namespace drainwatch
