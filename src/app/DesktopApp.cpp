#include "app/DesktopApp.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace drainwatch {

DesktopApp::DesktopApp(ViewController& controller, const QString& title, const QString& settingsPath)
    : controller_(controller), settings_(settingsPath), window_(controller, title, settings_), tray_(title.toStdString())
{
    // Closing the window leaves the monitor counting; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    window_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    controller_.displayUpdated = [this] { tray_.update(controller_.figures()); };

    connect(&window_, &MainWindow::quitRequested, this, &DesktopApp::quit);
    connect(&tray_, &TrayIcon::showWindowRequested, this, &DesktopApp::showWindow);
    connect(&tray_, &TrayIcon::showLogRequested, this, &DesktopApp::showLog);
    connect(&tray_, &TrayIcon::resetRequested, this, [this] { controller_.resetButtonClicked(); });
    connect(&tray_, &TrayIcon::quitRequested, this, &DesktopApp::quit);
    // A logout may end the process without a quit: have the count on disk.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { controller_.applicationWillTerminate(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &DesktopApp::quit);
}

void DesktopApp::start()
{
    controller_.viewDidLoad();
    window_.show();
    // Shown even without a tray on X11: Qt puts it in a tray that appears
    // later. Elsewhere Qt has no such watch, and only warns.
    if (QSystemTrayIcon::isSystemTrayAvailable() || QGuiApplication::platformName() == QLatin1String("xcb"))
        tray_.show();
}

void DesktopApp::showWindow()
{
    if (window_.isMinimized())
        window_.showNormal();
    else
        window_.show();
    window_.raise();
    window_.activateWindow();
}

// From the tray the window may be closed: it comes back to say what failed.
void DesktopApp::showLog()
{
    if (!window_.showLog())
        showWindow();
}

void DesktopApp::quit()
{
    if (ended_)
        return;
    ended_ = true;
    if (window_.isVisible()) {
        window_.keepGeometry();
        controller_.windowWillClose();
    }
    controller_.applicationWillTerminate();
    // exit, not quit: quit would close the window again, and log a second close.
    QCoreApplication::exit(0);
}

} // namespace drainwatch
