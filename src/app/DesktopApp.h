#pragma once

#include "app/MainWindow.h"
#include "app/TrayIcon.h"
#include "monitor/ViewController.h"

#include <QObject>

namespace drainwatch {

// The desktop front end: the window and the tray icon around one monitor,
// and the orderly end of the process. Needs a QApplication.
class DesktopApp : public QObject {
    Q_OBJECT
public:
    DesktopApp(ViewController& controller, const QString& title);

    // Loads the monitor, then shows the window and, where the desktop has a
    // tray, the icon.
    void start();
    // From the tray or a second launch: the window back on screen, in front.
    void showWindow();
    // Quit, a quit signal or the end of the session: the window's close if it
    // is open, then the monitor's save, then the event loop ends. Once only.
    void quit();

    MainWindow& window() { return window_; }
    TrayIcon& tray() { return tray_; }

private:
    void showLog();

    ViewController& controller_;
    MainWindow window_;
    TrayIcon tray_;
    bool ended_ = false;
};

} // namespace drainwatch
