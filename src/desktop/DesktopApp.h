// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/Autostart.h"
#include "desktop/MainWindow.h"
#include "desktop/TrayIcon.h"
#include "desktop/WindowSettings.h"
#include "monitor/ViewController.h"

#include <QObject>

namespace drainwatch {

// The desktop front end: the window and the tray icon around one monitor,
// and the orderly end of the process. Needs a QApplication.
class DesktopApp : public QObject {
    Q_OBJECT
public:
    // settingsPath: the counters' settings file, which also keeps the window's.
    DesktopApp(ViewController& controller, const QString& title, const QString& settingsPath);

    // Loads the monitor, then shows the window and, where the desktop has a
    // tray, the icon; with inTray, the icon only, where there is a tray.
    void start(bool inTray = false);
    // From the tray or a second launch: the window back on screen, in front.
    void showWindow();
    // Quit, a quit signal or the end of the session: the window's close if it
    // is open, then the monitor's save, then the event loop ends. Once only.
    void quit();

    MainWindow& window() { return window_; }
    // Start at Login, in both menus.
    Autostart autostart;
    TrayIcon& tray() { return tray_; }

private:
    void showLog();
    void setStartAtLogin(bool enabled);
    void showStartAtLogin();

    ViewController& controller_;
    WindowSettings settings_;
    MainWindow window_;
    TrayIcon tray_;
    bool ended_ = false;
};

} // namespace drainwatch
