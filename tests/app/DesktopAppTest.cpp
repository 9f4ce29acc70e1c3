#include "AppFixture.h"

#include "app/DesktopApp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace drainwatch::test {
namespace {

class DesktopAppTest : public AppFixture {
protected:
    std::string text(const char* outlet)
    {
        auto* label = desktop.window().findChild<QLabel*>(outlet);
        return label ? label->text().toStdString() : "(no label " + std::string(outlet) + ")";
    }
    template <typename Widget>
    Widget* child(const char* name)
    {
        auto* widget = desktop.window().findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QAction* menuAction(const QString& text)
    {
        for (QAction* action : desktop.window().menuBar()->findChildren<QAction*>())
            if (action->text().remove('&') == text)
                return action;
        ADD_FAILURE() << "no menu command " << text.toStdString();
        return nullptr;
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
        exitWhenIdle(kIdleRounds);
        return QCoreApplication::exec();
    }
    static void exitWhenIdle(int rounds)
    {
        QTimer::singleShot(0, qApp, [rounds] {
            if (rounds == 0)
                QCoreApplication::exit(7);
            else
                exitWhenIdle(rounds - 1);
        });
    }
    static constexpr int kIdleRounds = 10;

    DesktopApp desktop{*controller, "Drainwatch"};
};

TEST_F(DesktopAppTest, WindowShowsEveryTextTheMonitorWrites)
{
    discharge();
    EXPECT_EQ(desktop.window().windowTitle(), "Drainwatch");
    EXPECT_EQ(text("timeAwakeLabel"), "00:20");
    EXPECT_EQ(text("timeOnBatteryLabel"), "00:20");
    EXPECT_EQ(text("consumptionLabel"), "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    // 1205 s for 5 points: 24100 s for a full battery, 85 % of it left.
    EXPECT_EQ(text("plannedRuntimeLabel"), "05:41");
    EXPECT_EQ(text("totalRuntimeLabel"), "06:41");
    EXPECT_EQ(text("currentChargeLabel"), "85.0%");
    EXPECT_EQ(text("countingSinceLabel"), "90.0%");
    EXPECT_EQ(text("usedInSleepLabel"), "0.0%");
    EXPECT_EQ(text("healthLabel"), "96.2% (5000mAh of 5200mAh)");

    // The two runtimes are easy to mix up: each caption stands by its own text.
    for (auto* caption : desktop.window().findChildren<QLabel*>()) {
        if (caption->text() == "Remaining:") {
            EXPECT_EQ(caption->buddy()->objectName(), "plannedRuntimeLabel");
        }
        if (caption->text() == "Full battery:") {
            EXPECT_EQ(caption->buddy()->objectName(), "totalRuntimeLabel");
        }
    }
    EXPECT_TRUE(child<QLabel>("healthLabel")->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST_F(DesktopAppTest, ResetRestartsTheAwakeTimeOnly)
{
    discharge();
    child<QPushButton>("resetButton")->click();
    EXPECT_EQ(text("timeAwakeLabel"), "(on AC power)");
    EXPECT_EQ(text("plannedRuntimeLabel"), "(on AC power)");
    EXPECT_EQ(text("countingSinceLabel"), "90.0%");

    runFor(10);
    EXPECT_EQ(text("timeAwakeLabel"), "00:00");
    EXPECT_EQ(text("timeOnBatteryLabel"), "00:20");
    EXPECT_EQ(text("currentChargeLabel"), "85.0%");
    EXPECT_EQ(text("countingSinceLabel"), "90.0%");
    EXPECT_EQ(text("consumptionLabel"), "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    EXPECT_EQ(occurrences(log(), "Quitting app"), 0) << "a reset saves and logs nothing";

    // The menu command does the same.
    runFor(60);
    menuAction("Reset")->trigger();
    EXPECT_EQ(text("timeAwakeLabel"), "(on AC power)");
}

TEST_F(DesktopAppTest, ClosingSavesHidesAndKeepsCounting)
{
    discharge();
    const int code = runLoop([this] { menuAction("Close Window")->trigger(); });
    EXPECT_EQ(code, 7) << "closing the window must not end the process";
    EXPECT_FALSE(desktop.window().isVisible());
    EXPECT_FALSE(controller->visible);
    EXPECT_EQ(occurrences(log(), "Quitting app"), 1);
    for (const char* key : {"lastPercentage", "startedCountingAtPercentage", "usedDuringSleepPercentage"})
        EXPECT_NE(storeFile().find(key), std::string::npos) << key;

    // Ticks go on and still reach the hidden window.
    runFor(600);
    EXPECT_EQ(text("timeAwakeLabel"), "00:30");

    // The tray (or a second launch) brings it back, with a fresh tick.
    clock.advance(3);
    desktop.tray().menu().actions().at(0)->trigger();
    EXPECT_TRUE(desktop.window().isVisible());
    EXPECT_TRUE(controller->visible);
    EXPECT_EQ(controller->dischargeTimer.lastHeartBeat, clock.now());
}

TEST_F(DesktopAppTest, MinimisingLeavesTheScreenAndRestoringComesBack)
{
    desktop.start();
    ASSERT_TRUE(controller->visible);
    desktop.window().showMinimized();
    EXPECT_FALSE(controller->visible);
    desktop.showWindow();
    EXPECT_TRUE(controller->visible);
    EXPECT_EQ(occurrences(log(), "Quitting app"), 0);
}

TEST_F(DesktopAppTest, WattsCheckBoxSwitchesTheConsumptionTextAndBack)
{
    discharge();
    auto* box = child<QCheckBox>("useWattsCheckbox");
    EXPECT_FALSE(box->isChecked());
    box->setChecked(true);
    EXPECT_EQ(text("consumptionLabel"), "15.0 W (15.0 W recent, 15.0 W avg)");
    EXPECT_EQ(text("currentChargeLabel"), "85.0%");
    tick();
    EXPECT_EQ(text("consumptionLabel"), "15.0 W (15.0 W recent, 15.0 W avg)");
    box->setChecked(false);
    EXPECT_EQ(text("consumptionLabel"), "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
}

TEST_F(DesktopAppTest, QuitClosesSavesAndEndsTheEventLoop)
{
    discharge();
    const int code = runLoop([this] { menuAction("Quit")->trigger(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(occurrences(log(), "Quitting app"), 1) << "the close runs once, not again for the quit";

    const QSettingsPreferenceStore reread;
    EXPECT_DOUBLE_EQ(reread.doubleForKey("lastPercentage"), 0.85);
    EXPECT_DOUBLE_EQ(reread.doubleForKey("startedCountingAtPercentage"), 0.90);
    EXPECT_DOUBLE_EQ(reread.doubleForKey("batteryUsage.lastHeartBeat"), clock.now());
}

TEST_F(DesktopAppTest, QuitAfterCloseSavesTheLaterTicksWithoutAnotherClose)
{
    discharge();
    desktop.window().close();
    runFor(30);
    battery.set("CurrentCapacity", std::int64_t{4200});
    tick();
    const int code = runLoop([this] { desktop.tray().menu().actions().last()->trigger(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(occurrences(log(), "Quitting app"), 1);
    EXPECT_DOUBLE_EQ(QSettingsPreferenceStore().doubleForKey("lastPercentage"), 0.84);
}

TEST_F(DesktopAppTest, ShowLogFailureIsSaidInTheStatusLineAndChangesNothingElse)
{
    discharge();
    opener.succeeds = false;
    const std::string logBefore = log();
    const std::string awake = text("timeAwakeLabel");
    child<QPushButton>("showLogButton")->click();
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], Logger::main().filePath().string());
    EXPECT_EQ(desktop.window().statusBar()->currentMessage().toStdString(),
              "Could not open the log file " + Logger::main().filePath().string());
    EXPECT_EQ(log(), logBefore);
    EXPECT_EQ(text("timeAwakeLabel"), awake);

    opener.succeeds = true;
    menuAction("Show Log")->trigger();
    EXPECT_EQ(opener.opened.size(), 2u);
    EXPECT_TRUE(desktop.window().statusBar()->currentMessage().isEmpty());
}

TEST_F(DesktopAppTest, TrayToolTipFollowsTheTicks)
{
    discharge();
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 85.0%, 25.0 %/h");
    battery.set("Amperage", std::int64_t{-2500});
    tick();
    EXPECT_EQ(desktop.tray().toolTip(), "Drainwatch: 85.0%, 50.0 %/h");
}

} // namespace
} // namespace drainwatch::test
