#include "app/DesktopApp.h"

#include "sleep/SleepText.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace drainwatch {

DesktopApp::DesktopApp(ViewController& controller, const QString& title)
    : controller_(controller), window_(controller, title), tray_(title.toStdString())
{
    // Closing the window leaves the monitor counting; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    controller_.displayUpdated = [this] {
        const MonitorFigures figures = controller_.figures();
        const SleepTracker* sleeps = controller_.sleepTracker;
        if (!sleeps) {
            tray_.update(figures);
            return;
        }
        std::string lines;
        if (const auto& record = sleeps->lastRecord())
            lines = lastSleepLine(*record);
        if (figures.charge)
            if (const auto forecast = sleepForecastLine(*figures.charge, sleeps->usualRatePerHour()); !forecast.empty())
                lines += (lines.empty() ? "" : "\n") + forecast;
        tray_.update(figures, lines);
        window_.showSleeps(*sleeps, figures.charge);
    };

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
    if (QSystemTrayIcon::isSystemTrayAvailable())
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
    if (window_.isVisible())
        controller_.windowWillClose();
    controller_.applicationWillTerminate();
    // exit, not quit: quit would close the window again, and log a second close.
    QCoreApplication::exit(0);
}

} // namespace drainwatch
