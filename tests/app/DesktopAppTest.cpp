#include "AppFixture.h"

#include "app/DesktopApp.h"

#include <QtWidgets>

#include <stdexcept>

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

    DesktopApp desktop{*controller, "Drainwatch"};
};

TEST_F(DesktopAppTest, WindowAndTrayShowTheMonitorsTextsInPercentOrWattsAndResetRestartsTheAwakeTime)
{
    discharge();
    // The runtimes: 1205 s for 5 points, 24100 s for a full battery, 85 % of it left.
    for (const auto& [outlet, shown] : std::map<const char*, std::string>{{"timeAwakeLabel", "00:20"},
             {"timeOnBatteryLabel", "00:20"}, {"consumptionLabel", "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)"},
             {"plannedRuntimeLabel", "05:41"}, {"totalRuntimeLabel", "06:41"}, {"currentChargeLabel", "85.0%"},
             {"countingSinceLabel", "90.0%"}, {"usedInSleepLabel", "0.0%"}, {"healthLabel", "96.2% (5000mAh of 5200mAh)"}})
        EXPECT_EQ(text(outlet), shown) << outlet;
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 85.0%, 25.0 %/h");

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

TEST_F(DesktopAppTest, ShowLogFailureIsSaidInTheStatusLineAndChangesNothingElse)
{
    discharge();
    opener.succeeds = false;
    const std::string logBefore = log();
    desktop.window().findChild<QPushButton*>("showLogButton")->click();
    const std::string path = Logger::main().filePath().string();
    EXPECT_EQ(opener.opened, std::vector<std::string>{path});
    EXPECT_EQ(desktop.window().statusBar()->currentMessage().toStdString(), "Could not open the log file " + path);
    EXPECT_EQ(log(), logBefore);
    opener.succeeds = true;
    menuAction("Show Log")->trigger();
    EXPECT_TRUE(opener.opened.size() == 2 && desktop.window().statusBar()->currentMessage().isEmpty());
}

TEST_F(DesktopAppTest, SleepsPaneLastSleepAndForecastInTheWindowAndTheTray)
{
    struct DeepSleep final : SnapshotSource {
        SystemSnapshot take() override
        {
            SystemSnapshot s;
            s.mode = "deep";
            return s;
        }
    } system;
    SleepLedger ledger(nullptr);
    SleepTracker tracker(clock, system, ledger);
    controller->sleepTracker = &tracker;
    desktop.start();
    tick();
    const auto* table = desktop.window().findChild<QTableWidget*>("sleepsTable");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_TRUE(desktop.window().findChild<QLabel*>("lastSleepLabel")->isHidden());
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 90.0%, 25.0 %/h");

    // Two nights of eight hours: 4 and then 8 points of 5000 mAh.
    for (const std::int64_t charge : {4300, 3900}) {
        sleep.sleep();
        clock.suspend(8 * 3600);
        battery.set("CurrentCapacity", charge);
        sleep.wake();
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
    EXPECT_EQ(desktop.tray().toolTip().toStdString(), "Drainwatch: 78.0%, 25.0 %/h\n" + lines);
}

} // namespace
} // namespace drainwatch::test
