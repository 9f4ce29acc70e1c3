// SPDX-License-Identifier: MIT
#include "desktop/DesktopApp.h"

#include "sleep/SleepTracker.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace drainwatch {

DesktopApp::DesktopApp(ViewController& controller, const QString& title, const QString& settingsPath)
    : controller_(controller),
      settings_(settingsPath),
      window_(controller, title, settings_),
      tray_(title.toStdString())
{
    // Closing the window leaves the monitor counting; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    window_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    controller_.displayUpdated = [this] {
        const MonitorFigures figures = controller_.figures();
        const auto* remainingLabel = window_.findChild<QLabel*>("plannedRuntimeLabel");
        const std::string remaining = remainingLabel ? remainingLabel->text().toStdString() : std::string();
        const bool pluggedIn = controller_.batteryState.isCharging().value_or(false);
        const SleepTracker* sleeps = controller_.sleepTracker;
        if (!sleeps) {
            tray_.update(figures, pluggedIn, remaining);
            return;
        }
        tray_.update(figures, pluggedIn, remaining, sleeps->lastRecord(),
                     figures.charge ? sleeps->forecastHours(*figures.charge) : std::nullopt);
        window_.showSleeps(*sleeps, figures.charge, controller_.lidGuard ? controller_.lidGuard->recordsKept() : 0);
    };

    connect(&window_, &MainWindow::quitRequested, this, &DesktopApp::quit);
    connect(&tray_, &TrayIcon::showWindowRequested, this, &DesktopApp::showWindow);
    connect(&tray_, &TrayIcon::showLogRequested, this, &DesktopApp::showLog);
    connect(&tray_, &TrayIcon::resetRequested, this, [this] { controller_.resetButtonClicked(); });
    connect(&tray_, &TrayIcon::quitRequested, this, &DesktopApp::quit);
    for (QAction* action : {&window_.startAtLoginAction(), &tray_.startAtLoginAction()}) {
        connect(action, &QAction::triggered, this, &DesktopApp::setStartAtLogin);
        // Read from the file each time: the desktop's settings may change it.
        connect(qobject_cast<QMenu*>(action->parent()), &QMenu::aboutToShow, this, &DesktopApp::showStartAtLogin);
    }
    // The opt-in suspend, a key of the settings file: shown as the file says it.
    QAction& suspend = window_.suspendWithLidClosedAction();
    suspend.setVisible(controller_.lidGuard && controller_.lidGuard->settings);
    connect(qobject_cast<QMenu*>(suspend.parent()), &QMenu::aboutToShow, this, [this, &suspend] {
        if (controller_.lidGuard && controller_.lidGuard->settings)
            suspend.setChecked(controller_.lidGuard->settings->integerForKey(LidGuard::kSuspendKey) == 1);
    });
    connect(&suspend, &QAction::triggered, this, [this](bool on) {
        if (!controller_.lidGuard || !controller_.lidGuard->settings)
            return;
        PreferenceStore& settings = *controller_.lidGuard->settings;
        settings.setInteger(on ? 1 : 0, LidGuard::kSuspendKey);
        settings.synchronize();
    });
    // A logout may end the process without a quit: have the count on disk.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { controller_.applicationWillTerminate(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &DesktopApp::quit);
}

void DesktopApp::start(bool inTray)
{
    controller_.viewDidLoad();
    showStartAtLogin();
    // On X11 Qt puts the icon in a tray that appears later (a panel that
    // starts after Drainwatch at login); elsewhere it has no such watch, and
    // only warns, and no tray means the window.
    const bool trayToCome =
        QSystemTrayIcon::isSystemTrayAvailable() || QGuiApplication::platformName() == QLatin1String("xcb");
    if (!inTray || !trayToCome)
        window_.show();
    if (trayToCome)
        tray_.show();
}

void DesktopApp::showStartAtLogin()
{
    const bool enabled = autostart.isEnabled();
    window_.startAtLoginAction().setChecked(enabled);
    tray_.startAtLoginAction().setChecked(enabled);
}

void DesktopApp::setStartAtLogin(bool enabled)
{
    if (!autostart.setEnabled(enabled)) {
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Start at Login"),
                                    tr("Start at login could not be changed: %1.").arg(autostart.problem()),
                                    QMessageBox::Close, &window_);
        box->setObjectName("autostartProblem");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->show();
    }
    showStartAtLogin();
}

void DesktopApp::showWindow()
{
    // A window that comes back appears and refreshes so; one already on
    // screen would show the last tick's figures until the next.
    if (window_.isVisible() && !window_.isMinimized())
        controller_.doTimedLogic();
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
