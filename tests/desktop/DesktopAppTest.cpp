// SPDX-License-Identifier: MIT
#include "support/AppFixture.h"

#include "battery/SysfsRegistry.h"
#include "desktop/Autostart.h"
#include "desktop/BatteryIcon.h"
#include "desktop/DesktopApp.h"
#include "desktop/QtFileOpener.h"
#include "platform/PlatformTestSupport.h"
#include "platform/SingleInstance.h"
#include "sleep/LidGuard.h"
#include "support/Records.h"
#include "terminal/StatusFields.h"

#include <QtWidgets>

#include <stdexcept>
#include <thread>

#include <fmt/format.h>

namespace drainwatch::test {
namespace {

class DesktopAppTest : public AppFixture {
protected:
    std::string text(const char* outlet)
    {
        const auto* label = desktop.window().findChild<QLabel*>(outlet);
        return label ? label->text().toStdString() : "(no label)";
    }
    QAction* menuAction(const QString& text)
    {
        for (QAction* action : desktop.window().menuBar()->findChildren<QAction*>())
            if (action->text().remove('&') == text)
                return action;
        throw std::runtime_error("no menu command " + text.toStdString());
    }
    // 20 minutes awake on battery, the charge down from 90 % to 85 %.
    void discharge()
    {
        desktop.start();
        runFor(1200);
        battery.set("CurrentCapacity", std::int64_t{4250});
        tick();
    }
    // Runs the event loop with `action` in it, until the action or what it
    // caused ends the loop; 7 when the loop went idle without ending.
    int runLoop(const std::function<void()>& action)
    {
        QTimer::singleShot(0, qApp, action);
        exitWhenIdle(10);
        return QCoreApplication::exec();
    }
    static void exitWhenIdle(int rounds)
    {
        QTimer::singleShot(0, qApp, [rounds] { rounds == 0 ? QCoreApplication::exit(7) : exitWhenIdle(rounds - 1); });
    }

    DesktopApp desktop{*controller, "Drainwatch", store->path()};
    bool trayHere = true;

    DesktopAppTest()
    {
        desktop.window().trayAvailable = [this] { return trayHere; };
    }
};

TEST_F(DesktopAppTest, WindowAndTrayShowTheMonitorsTextsInPercentOrWattsAndResetRestartsTheAwakeTime)
{
    discharge();
    // The runtimes: 1205 s for 5 points, 24100 s for a full battery, 85 % of it left.
    for (const auto& [outlet, shown] :
         std::map<const char*, std::string>{{"timeAwakeLabel", "00:20"},
                                            {"timeOnBatteryLabel", "00:20"},
                                            {"consumptionLabel", "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)"},
                                            {"plannedRuntimeLabel", "05:41"},
                                            {"totalRuntimeLabel", "06:41"},
                                            {"currentChargeLabel", "85.0%"},
                                            {"countingSinceLabel", "90.0%"},
                                            {"usedInSleepLabel", "0.0%"},
                                            {"healthLabel", "96.2% (5000mAh of 5200mAh)"}})
        EXPECT_EQ(text(outlet), shown) << outlet;
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 85.0%, 25.0 %/h, 05:41 left");

    auto* watts = desktop.window().findChild<QCheckBox*>("useWattsCheckbox");
    watts->setChecked(true);
    EXPECT_EQ(text("consumptionLabel"), "15.0 W (15.0 W recent, 15.0 W avg)");
    tick();
    EXPECT_EQ(text("consumptionLabel"), "15.0 W (15.0 W recent, 15.0 W avg)");
    watts->setChecked(false);
    EXPECT_EQ(text("consumptionLabel"), "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");

    // Reset restarts the awake time only.
    desktop.window().findChild<QPushButton*>("resetButton")->click();
    runFor(10);
    EXPECT_EQ(text("timeAwakeLabel"), "00:00");
    EXPECT_EQ(text("timeOnBatteryLabel"), "00:20");
    EXPECT_EQ(text("countingSinceLabel"), "90.0%");
    EXPECT_EQ(quits(), 0) << "a reset saves and logs nothing";
}

// The loop ending stands for the process ending (as it would, aboutToQuit runs a quit).
TEST_F(DesktopAppTest, ClosingSavesAndKeepsTheProcessAndTheCountGoingUntilTheTrayBringsItBack)
{
    discharge();
    EXPECT_EQ(runLoop([this] { menuAction("Close Window")->trigger(); }), 7);
    EXPECT_FALSE(desktop.window().isVisible() || controller->visible);
    EXPECT_EQ(quits(), 1);
    EXPECT_NE(storeFile().find("\nlastPercentage=0.85\n"), std::string::npos) << storeFile();
    runFor(600);
    EXPECT_EQ(text("timeAwakeLabel"), "00:30") << "ticks reach the hidden window";
    clock.advance(3);
    desktop.tray().menu().actions().at(0)->trigger();
    EXPECT_TRUE(desktop.window().isVisible() && controller->visible);
    EXPECT_EQ(controller->dischargeTimer.lastHeartBeat, clock.now()) << "a fresh tick on coming back";
    desktop.window().showMinimized();
    EXPECT_FALSE(controller->visible) << "minimised is off the screen";
}

TEST_F(DesktopAppTest, QuitAfterACloseSavesTheLaterTicksWithoutAnotherClose)
{
    discharge();
    desktop.window().close();
    battery.set("CurrentCapacity", std::int64_t{4200});
    runFor(30);
    EXPECT_EQ(runLoop([this] { desktop.tray().menu().actions().last()->trigger(); }), 0);
    EXPECT_EQ(quits(), 1);
    EXPECT_NE(storeFile().find("\nlastPercentage=0.84\n"), std::string::npos) << storeFile();
}

// The failure box, once it is on screen.
QMessageBox* logProblem(QWidget& window)
{
    auto* box = window.findChild<QMessageBox*>("logProblem");
    return box && box->isVisible() ? box : nullptr;
}

TEST_F(DesktopAppTest, ShowLogFailureIsSaidInAMessageThatStaysWithThePathSelectableAndChangesNothingElse)
{
    discharge();
    opener.succeeds = false;
    const std::string logBefore = log();
    desktop.window().findChild<QPushButton*>("showLogButton")->click();
    const std::string path = Logger::main().filePath().string();
    EXPECT_EQ(opener.opened, std::vector<std::string>{path});
    QMessageBox* box = logProblem(desktop.window());
    ASSERT_TRUE(box);
    EXPECT_NE(box->informativeText().indexOf(QString::fromStdString(path)), -1);
    EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    desktop.window().menuBar()->actions().first()->menu()->popup({0, 0});
    desktop.window().menuBar()->actions().first()->menu()->hide();
    EXPECT_TRUE(logProblem(desktop.window())) << "a menu does not take it away";
    EXPECT_EQ(log(), logBefore);
    box->close();
    opener.succeeds = true;
    menuAction("Show Log")->trigger();
    EXPECT_TRUE(opener.opened.size() == 2 && !logProblem(desktop.window()));
}

// The real opener, with xdg-open as the user's machine may have it: missing,
// finding no application (exit code 4), or opening the file.
TEST_F(AppFixture, ShowLogThroughXdgOpenSaysWhatWentWrongEvenWhenItFailsLater)
{
    QtFileOpener xdgOpen;
    ViewController monitor(MonitorServices{clock, battery, *store, timer, sleep, xdgOpen});
    DesktopApp app(monitor, "Drainwatch", store->path());
    app.window().setFileOpener(xdgOpen);
    app.start();
    const std::string path = Logger::main().filePath().string();
    const QString bin = QString::fromStdString((home.path() / "bin").string());
    QDir().mkpath(bin);
    const QByteArray savedPath = qgetenv("PATH");
    const auto withXdgOpen = [&](const QString& script) {
        QFile::remove(bin + "/xdg-open");
        if (!script.isEmpty()) {
            QFile file(bin + "/xdg-open");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(("#!/bin/sh\n" + script + "\n").toUtf8());
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        qputenv("PATH", bin.toUtf8());
    };
    const auto waitForBox = [&] {
        const QDeadlineTimer deadline(kHangMs);
        while (!logProblem(app.window()) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return logProblem(app.window());
    };

    withXdgOpen({});
    EXPECT_FALSE(app.window().showLog());
    QMessageBox* box = logProblem(app.window());
    ASSERT_TRUE(box);
    EXPECT_NE(box->text().indexOf("xdg-utils"), -1) << box->text().toStdString();
    box->close();

    withXdgOpen("exit 4");
    EXPECT_TRUE(app.window().showLog()) << "xdg-open started";
    box = waitForBox();
    ASSERT_TRUE(box) << "the failure is said when xdg-open ends";
    EXPECT_NE(box->text().indexOf("no application"), -1) << box->text().toStdString();
    EXPECT_NE(box->informativeText().indexOf(QString::fromStdString(path)), -1);
    box->close();

    const QString opened = bin + "/opened";
    withXdgOpen("printf %s \"$1\" > " + opened);
    EXPECT_TRUE(app.window().showLog());
    const QDeadlineTimer deadline(kHangMs);
    while (!QFileInfo(opened).size() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(readFile(opened.toStdString()), path);
    EXPECT_FALSE(logProblem(app.window()));
    qputenv("PATH", savedPath);
}

TEST_F(AppFixture, TheWindowGivesHealthInWattHoursForABatteryThatCountsInEnergy)
{
    for (const auto& [layout, shown] : std::map<std::string, std::string>{
             {"b-thinkpad-energy-discharging", "94.8% (45.1Wh of 47.5Wh)"}, {"a-acpi-charge-discharging", "(mAh)"}}) {
        SysfsRegistry sysfs(std::string(DRAINWATCH_TEST_DATA "/power_supply/") + layout, clock);
        ViewController monitor(MonitorServices{clock, sysfs, *store, timer, sleep, opener});
        DesktopApp app(monitor, "Drainwatch", store->path());
        app.window().setEnergyReader([&] { return sysfs.energyCapacity(); });
        app.start();
        const std::string health = app.window().findChild<QLabel*>("healthLabel")->text().toStdString();
        if (shown == "(mAh)")
            EXPECT_NE(health.find("mAh of "), std::string::npos) << health;
        else
            EXPECT_EQ(health, shown);
    }
}

TEST_F(DesktopAppTest, StartAtLoginWritesTheAutostartEntryAndBothMenusReadTheirStateFromIt)
{
    desktop.start(true);
    EXPECT_TRUE(desktop.window().isVisible()) << "no tray to come on this platform: the window after all";
    QAction& inWindow = *menuAction("Start at Login");
    QAction& inTray = desktop.tray().startAtLoginAction();
    const QString path = Autostart::path();
    EXPECT_EQ(path.toStdString(),
              (home.path() / "XDG_CONFIG_HOME/autostart/io.github.drainwatch.Drainwatch.desktop").string());
    EXPECT_FALSE(inWindow.isChecked() || inTray.isChecked());

    inWindow.trigger();
    const std::string entry = readFile(path.toStdString());
    EXPECT_NE(entry.find("\nExec="), std::string::npos) << entry;
    EXPECT_NE(entry.find(" --tray\n"), std::string::npos) << entry;
    EXPECT_TRUE(inWindow.isChecked() && inTray.isChecked());
    QProcess validate;
    validate.start("desktop-file-validate", {path});
    ASSERT_TRUE(validate.waitForFinished(kHangMs));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();

    // Changed behind its back: the menus follow the file when they open.
    QFile::remove(path);
    emit desktop.tray().menu().aboutToShow();
    EXPECT_FALSE(inWindow.isChecked() || inTray.isChecked());
    inTray.trigger();
    EXPECT_TRUE(QFileInfo::exists(path) && inWindow.isChecked());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("Hidden=true\n");
    }
    emit qobject_cast<QMenu*>(inWindow.parent())->aboutToShow();
    EXPECT_FALSE(inWindow.isChecked()) << "turned off by the desktop's settings";
    inWindow.trigger();
    EXPECT_TRUE(QFileInfo::exists(path) && inWindow.isChecked()) << "written anew";
    inWindow.trigger();
    EXPECT_FALSE(QFileInfo::exists(path) || inWindow.isChecked() || inTray.isChecked());

    // A folder that cannot be made: said, and the menus stay unchecked.
    QFile::remove(QFileInfo(path).absolutePath());
    QDir(QFileInfo(path).absolutePath()).removeRecursively();
    QFile blocker(QFileInfo(path).absolutePath());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    inTray.trigger();
    auto* box = desktop.window().findChild<QMessageBox*>("autostartProblem");
    ASSERT_TRUE(box && box->isVisible());
    EXPECT_NE(box->text().indexOf("autostart"), -1) << box->text().toStdString();
    EXPECT_FALSE(inWindow.isChecked() || inTray.isChecked());
}

int pixelsOf(const QImage& image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == colour;
    return count;
}

TEST_F(DesktopAppTest, TheTrayIconDrawsTheChargeAndTheChargerAndFollowsADarkOrLightTheme)
{
    const QRgb green = qRgb(0x4c, 0xc0, 0x5a), red = qRgb(0xe0, 0x5a, 0x2b), bolt = qRgb(0xf5, 0xc2, 0x11);
    const int low = pixelsOf(batteryImage({0.3}), green), half = pixelsOf(batteryImage({0.6}), green),
              high = pixelsOf(batteryImage({0.9}), green);
    EXPECT_TRUE(low > 0 && low < half && half < high) << low << " " << half << " " << high;
    EXPECT_TRUE(pixelsOf(batteryImage({0.1}), red) > 0 && pixelsOf(batteryImage({0.1}), green) == 0);
    EXPECT_EQ(pixelsOf(batteryImage({std::nullopt}), green) + pixelsOf(batteryImage({std::nullopt}), red), 0);
    EXPECT_GT(pixelsOf(batteryImage({0.5, true}), bolt), 0);
    EXPECT_EQ(pixelsOf(batteryImage({0.5, false}), bolt), 0);
    const QColor onDark = batteryImage({0.5, false, true}).pixelColor(4, 32);
    const QColor onLight = batteryImage({0.5, false, false}).pixelColor(4, 32);
    EXPECT_TRUE(onDark.lightness() > 160 && onLight.lightness() < 96)
        << onDark.lightness() << " " << onLight.lightness();

    // What the tray shows follows the monitor and the theme.
    discharge();
    EXPECT_EQ(desktop.tray().look(), (BatteryLook{0.85, false, darkPalette()}));
    battery.set("ExternalConnected", true);
    battery.set("IsCharging", true);
    tick();
    EXPECT_TRUE(desktop.tray().look().pluggedIn);
    const QPalette before = QApplication::palette();
    for (const auto& [window, dark] :
         {std::pair{QColor(0x20, 0x20, 0x20), true}, std::pair{QColor(0xf0, 0xf0, 0xf0), false}}) {
        QPalette palette;
        palette.setColor(QPalette::Window, window);
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        EXPECT_EQ(desktop.tray().look().darkPanel, dark) << window.name().toStdString();
    }
    QApplication::setPalette(before);
}

// Also run with QT_SCALE_FACTOR=2 (see CMakeLists.txt).
TEST_F(DesktopAppTest, CaptionsSayWhatTheyMeasureAsTheReadmeDoesAndTheSmallestWindowCutsNoFigure)
{
    desktop.start();
    const std::string readme = readFile(DRAINWATCH_TEST_DATA "/../../README.md");
    for (const StatusField& field : kStatusFields) {
        const std::string row = std::string("\n| ") + field.caption + " | ";
        const auto at = readme.find(row);
        ASSERT_NE(at, std::string::npos) << field.caption;
        const auto start = at + row.size();
        const std::string meaning = readme.substr(start, readme.find(" |\n", start) - start);
        const auto* caption = desktop.window().findChild<QLabel*>(QString(field.outlet) + "Caption");
        ASSERT_TRUE(caption);
        EXPECT_EQ(caption->toolTip().toStdString(), meaning);
        EXPECT_EQ(desktop.window().findChild<QLabel*>(field.outlet)->toolTip(), caption->toolTip());
    }

    // The widest each figure gets, in either unit.
    const std::map<std::string, std::vector<const char*>> widest{
        {"timeAwakeLabel", {"1000:00"}},
        {"timeOnBatteryLabel", {"1000:00"}},
        {"consumptionLabel", {"100.0 %/h (100.0 %/h recent, 100.0 %/h avg)", "100.0 W (100.0 W recent, 100.0 W avg)"}},
        {"plannedRuntimeLabel", {"(please wait)", "(on AC power)"}},
        {"totalRuntimeLabel", {"(please wait)"}},
        {"currentChargeLabel", {"100.0%"}},
        {"countingSinceLabel", {"100.0%"}},
        {"usedInSleepLabel", {"100.0%"}},
        {"healthLabel", {"100.0% (10000mAh of 10000mAh)", "100.0% (100.0Wh of 100.0Wh)"}}};
    for (const auto& [outlet, texts] : widest) {
        auto* label = desktop.window().findChild<QLabel*>(QString::fromStdString(outlet));
        for (const char* text : texts) {
            label->setText(text);
            desktop.window().resize(1, 1);
            QCoreApplication::processEvents();
            EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(text))
                << outlet << ": " << text << " at scale " << qgetenv("QT_SCALE_FACTOR").toStdString();
            EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height()) << outlet;
        }
    }
    EXPECT_GT(desktop.window().width(), 1) << "the window has a smallest size";
}

// The next start, as a new process would make it: a store, a monitor and a
// desktop on the same settings file.
struct NextStart {
    NextStart(const Clock& clock, RegistrySource& battery, RepeatingTimer& timer, SleepNotifications& sleep,
              FileOpener& opener, const QString& path)
        : controller(MonitorServices{clock, battery, store, timer, sleep, opener}),
          desktop(controller, "Drainwatch", path)
    {
        desktop.start();
    }
    QSettingsPreferenceStore store;
    ViewController controller;
    DesktopApp desktop;
};

TEST_F(DesktopAppTest, WithoutATrayCloseWindowFirstSaysHowTheWindowComesBackAndDoesWhatTheUserChose)
{
    trayHere = false;
    discharge();
    const auto question = [this] {
        auto* box = desktop.window().findChild<QMessageBox*>("closeWithoutTray");
        return box && box->isVisible() ? box : nullptr;
    };
    menuAction("Close Window")->trigger();
    ASSERT_TRUE(question());
    EXPECT_TRUE(desktop.window().isVisible()) << "nothing closes before the answer";
    EXPECT_NE(question()->informativeText().indexOf("run drainwatch again"), -1);
    EXPECT_EQ(quits(), 0);
    question()->findChild<QPushButton*>("keepCounting")->click();
    EXPECT_FALSE(desktop.window().isVisible());
    EXPECT_EQ(quits(), 1) << "closed as with a tray: saved and logged";

    desktop.showWindow();
    menuAction("Close Window")->trigger();
    ASSERT_TRUE(question());
    question()->checkBox()->setChecked(true);
    EXPECT_EQ(runLoop([&] { question()->findChild<QPushButton*>("quit")->click(); }), 0) << "the process ends";
    EXPECT_NE(storeFile().find("closeWithoutTray=quit"), std::string::npos);

    // Remembered: the next start's Close Window quits at once.
    NextStart next(clock, battery, timer, sleep, opener, store->path());
    next.desktop.window().trayAvailable = [] { return false; };
    QObject::connect(&next.desktop.window(), &MainWindow::quitRequested, [] { QCoreApplication::exit(3); });
    EXPECT_EQ(runLoop([&] { next.desktop.window().close(); }), 3);
    EXPECT_FALSE(next.desktop.window().findChild<QMessageBox*>("closeWithoutTray"));
}

TEST_F(DesktopAppTest, ShowWattsAndTheWindowsPlaceComeBackAtTheNextStartBesideTheUntouchedCounters)
{
    discharge();
    desktop.window().findChild<QCheckBox*>("useWattsCheckbox")->setChecked(true);
    desktop.window().setGeometry(120, 90, 640, 420);
    EXPECT_EQ(runLoop([this] { menuAction("Quit")->trigger(); }), 0);
    const std::string saved = storeFile();
    EXPECT_NE(saved.find("[window]"), std::string::npos) << saved;
    const auto counters = [](const std::string& file) { return file.substr(0, file.find("[window]")); };
    EXPECT_NE(counters(saved).find("lastPercentage=0.85\n"), std::string::npos) << saved;

    StderrCapture diagnostics;
    NextStart next(clock, battery, timer, sleep, opener, store->path());
    next.desktop.window().trayAvailable = [] { return true; };
    EXPECT_EQ(diagnostics.lines().filter(store->path()), QStringList()) << "the file is not taken for damage";
    EXPECT_TRUE(next.desktop.window().findChild<QCheckBox*>("useWattsCheckbox")->isChecked());
    EXPECT_EQ(next.desktop.window().findChild<QLabel*>("consumptionLabel")->text().toStdString(),
              "15.0 W (15.0 W recent, 15.0 W avg)");
    EXPECT_EQ(next.desktop.window().geometry(), QRect(120, 90, 640, 420));
    EXPECT_EQ(next.desktop.window().findChild<QLabel*>("countingSinceLabel")->text().toStdString(), "90.0%")
        << "the counters were read back";

    // The window's changes leave the counters' part of the file as it was,
    // and a save of the counters keeps the window's keys.
    const std::string before = counters(storeFile());
    next.desktop.window().findChild<QCheckBox*>("useWattsCheckbox")->setChecked(false);
    EXPECT_NE(storeFile().find("useWatts=false"), std::string::npos);
    EXPECT_EQ(counters(storeFile()), before);
    runFor(30);
    next.desktop.window().close();
    EXPECT_NE(counters(storeFile()), before) << "the close saved the counters";
    EXPECT_NE(storeFile().find("useWatts=false"), std::string::npos) << storeFile();
}

TEST_F(DesktopAppTest, AFileWithOnlyTheWindowsKeysIsNotTakenForDamage)
{
    const QString path = QSettingsPreferenceStore::defaultPath("Drainwatch-window-only.conf");
    WindowSettings(path).setUseWatts(true);
    StderrCapture diagnostics;
    QSettingsPreferenceStore reread("Drainwatch-window-only.conf");
    EXPECT_EQ(diagnostics.lines(), QStringList());
    EXPECT_TRUE(QFileInfo::exists(path) && !QFileInfo::exists(path + ".corrupt"));
    EXPECT_TRUE(WindowSettings(path).useWatts());
}

TEST_F(DesktopAppTest, SleepsPaneLastSleepAndForecastInTheWindowAndTheTray)
{
    system.snapshot.mode = "deep";
    trackSleeps();
    desktop.start();
    tick();
    const auto* table = desktop.window().findChild<QTableWidget*>("sleepsTable");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_TRUE(desktop.window().findChild<QLabel*>("lastSleepLabel")->isHidden());
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 90.0%, 25.0 %/h");

    // Two nights of eight hours: 4 and then 8 points of 5000 mAh.
    for (const std::int64_t charge : {4300, 3900}) {
        suspend(8, charge);
        tick();
    }
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 1)->text(), "8 h 00 min");
    EXPECT_EQ(table->item(0, 2)->text(), "deep");
    EXPECT_EQ(table->item(0, 3)->text(), "8.0%");
    EXPECT_EQ(table->item(0, 4)->text(), "1.00") << "newest first";
    EXPECT_EQ(table->item(1, 4)->text(), "0.50");
    EXPECT_EQ(table->item(0, 5)->text(), "600");
    EXPECT_EQ(table->item(0, 6)->text(), "-");
    // 400 mAh at 12 V in 8 hours: 600 mW. The median of 0.5 and 1.0 %/h:
    // 78 % lasts 104 h asleep.
    const std::string lines = "Last sleep: 8 h 00 min in deep, 8.0% used, 1.00 %/h, 600 mW\n"
                              "Asleep, 78.0% would last 104 h 00 min at the usual 0.75 %/h";
    EXPECT_EQ(text("lastSleepLabel"), lines);
    // The tray: the forecast, the last sleep a line. No time left yet: the
    // charge fell in sleep alone, and the estimate counts the awake drain.
    EXPECT_EQ(desktop.tray().toolTip().toStdString(), "Drainwatch: 78.0%, 25.0 %/h, 104 h 00 min asleep\n"
                                                      "Last sleep: 8 h 00 min in deep, 8.0% used, 1.00 %/h, 600 mW");
}

// A spell awake with the lid closed stands among the sleeps, said so; what
// holds sleep is asked when the tab is shown and on the button, not per tick.
TEST_F(DesktopAppTest, SleepsPaneShowsTheLidSpellsAndWhatHoldsSleep)
{
    int asked = 0;
    desktop.window().sleepsPane().setInhibitorsReader([&asked] {
        ++asked;
        return fmt::format("Inhibitors: none\nasked {}\n", asked);
    });
    SleepRecord spell = lidClosedRecord(1800000000, 1800001800, 0.63, 0.60, 12.0, 5000);
    desktop.window().sleepsPane().showRecords({spell});
    desktop.start();
    tick();
    tick();
    EXPECT_EQ(asked, 0) << "the Sleeps tab is not shown";
    auto* tabs = desktop.window().findChild<QTabWidget*>("tabs");
    auto* table = desktop.window().findChild<QTableWidget*>("sleepsTable");
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 1)->text(), "30 min");
    EXPECT_EQ(table->item(0, 2)->text(), "awake, lid closed");
    tabs->setCurrentWidget(table->parentWidget());
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(text("inhibitorsLabel"), "Inhibitors: none\nasked 1");
    desktop.window().findChild<QPushButton*>("inhibitorsButton")->click();
    EXPECT_EQ(text("inhibitorsLabel"), "Inhibitors: none\nasked 2");
    tick();
    EXPECT_EQ(asked, 2);
}

// The sum of a table's column widths, against the width it has.
int columnsWidth(const QTableWidget& table)
{
    int sum = 0;
    for (int c = 0; c < table.columnCount(); ++c)
        sum += table.columnWidth(c);
    return sum;
}

// At the default size the Sleeps columns fit, a text cut short is whole in
// its tooltip; enlarged, the figures take the width, and the window can be
// made small again.
TEST_F(DesktopAppTest, TheSleepsColumnsFitTheDefaultWindowAndTheFiguresTakeAnEnlargedOne)
{
    system.snapshot.mode = "deep";
    trackSleeps();
    desktop.start();
    tick();
    for (const std::int64_t charge : {4300, 3900}) {
        suspend(8, charge);
        tick();
    }
    auto* tabs = desktop.window().findChild<QTabWidget*>("tabs");
    auto* table = desktop.window().findChild<QTableWidget*>("sleepsTable");
    tabs->setCurrentWidget(table->parentWidget());
    desktop.window().resize(475, 348);
    QCoreApplication::processEvents();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_LE(columnsWidth(*table), table->viewport()->width());
    for (int c = 0; c < table->columnCount(); ++c) {
        EXPECT_TRUE(table->item(0, c)->toolTip().contains(table->item(0, c)->text())) << c;
        EXPECT_FALSE(table->horizontalHeaderItem(c)->toolTip().isEmpty()) << c;
    }
    EXPECT_EQ(table->item(0, 0)->toolTip().size(), 16) << "the year too";

    tabs->setCurrentIndex(0);
    auto* consumption = desktop.window().findChild<QLabel*>("consumptionLabel");
    const int narrow = consumption->width();
    desktop.window().resize(1100, 500);
    QCoreApplication::processEvents();
    EXPECT_GT(consumption->width(), narrow + 400);
    EXPECT_LE(consumption->geometry().right(), consumption->parentWidget()->width());
    desktop.window().resize(475, 348);
    QCoreApplication::processEvents();
    EXPECT_EQ(desktop.window().width(), 475);
    EXPECT_EQ(consumption->width(), narrow);
}

// However much a record says, the tooltip has a line for the figures and
// one for the last sleep, even where a text read from /sys ends in a line end.
TEST_F(DesktopAppTest, TheTrayTooltipGivesTheLastSleepInOneLine)
{
    SleepRecord record = sleepRecord(3, "deep\n");
    record.failedDevice = "usb1\n";
    MonitorFigures figures;
    figures.charge = 0.5;
    figures.ratePerHour = 10;
    const QStringList lines =
        QString::fromStdString(trayToolTip(figures, "Drainwatch", "05:00", record, 12.5)).split('\n');
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "Drainwatch: 50.0%, 10.0 %/h, 05:00 left, 12 h 30 min asleep");
    EXPECT_EQ(lines[1],
              "Last sleep: 8 h 00 min in deep , 24.0% used, 3.00 %/h, 2310 mW (failed, restless, shallow, high drain)");
    EXPECT_EQ(QString::fromStdString(trayToolTip({}, "Drainwatch", {}, record, 12.5)).split('\n'),
              QStringList({"Drainwatch: no battery reading", lines[1]}));
}

// A second launch knocks at the first one's socket: the window on screen
// comes to the front with the battery read at once, not at the next tick.
TEST_F(DesktopAppTest, ASecondLaunchRaisesTheWindowOnScreenWithTheFiguresReadAtOnce)
{
    discharge();
    ASSERT_TRUE(desktop.window().isVisible());
    SingleInstance first(QStringLiteral("DrainwatchTest-raise")), second(QStringLiteral("DrainwatchTest-raise"));
    ASSERT_EQ(first.tryBecomePrimary(), SingleInstance::Role::Primary);
    first.setHasWindow(true);
    QObject::connect(&first, &SingleInstance::activationRequested, &desktop, &DesktopApp::showWindow);
    QObject::connect(&first, &SingleInstance::activationRequested, [] { QCoreApplication::exit(0); });
    battery.set("CurrentCapacity", std::int64_t{4000});
    EXPECT_EQ(text("currentChargeLabel"), "85.0%");
    // The second launch waits for the answer, as its process would: beside
    // this event loop, which gives it.
    SingleInstance::WindowAnswer answer = SingleInstance::WindowAnswer::NoAnswer;
    std::thread launch([&] {
        if (second.tryBecomePrimary() == SingleInstance::Role::Secondary)
            answer = second.requestWindow();
    });
    EXPECT_EQ(QCoreApplication::exec(), 0) << "the knock arrived";
    launch.join();
    EXPECT_EQ(answer, SingleInstance::WindowAnswer::Shown);
    EXPECT_EQ(text("currentChargeLabel"), "80.0%");
    EXPECT_TRUE(desktop.window().isVisible());

    // Back from the task bar it refreshes by appearing, once.
    desktop.window().showMinimized();
    battery.set("CurrentCapacity", std::int64_t{3750});
    desktop.showWindow();
    EXPECT_EQ(text("currentChargeLabel"), "75.0%");
}

} // namespace
} // namespace drainwatch::test
