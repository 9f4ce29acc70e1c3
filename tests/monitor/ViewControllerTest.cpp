// SPDX-License-Identifier: MIT
#include "monitor/ViewController.h"
#include "battery/MemoryRegistry.h"
#include "log/Logger.h"
#include "measure/MemoryPreferenceStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace drainwatch {
namespace {

using test::FakeCheckBox;
using test::FakeFileOpener;
using test::FakeSleepNotifications;
using test::FakeTextField;
using test::FakeTimer;

class ViewControllerTest : public test::LoggedTest {
protected:
    void SetUp() override
    {
        logInFolder();
        battery.set("DesignCapacity", std::int64_t{6000});
        battery.set("MaxCapacity", std::int64_t{5000});
        battery.set("CurrentCapacity", std::int64_t{4000});
        battery.set("Amperage", std::int64_t{-1250});
        battery.set("Voltage", std::int64_t{12000});
        battery.set("ExternalConnected", false);
    }

    ViewController& start()
    {
        controller = std::make_unique<ViewController>(MonitorServices{clock, battery, store, timer, sleep, opener});
        controller->consumptionLabel = &consumption;
        controller->healthLabel = &health;
        controller->totalRuntimeLabel = &total;
        controller->useWattsCheckbox = &watts;
        controller->viewDidLoad();
        controller->viewDidAppear();
        return *controller;
    }
    void tick(double seconds = 5)
    {
        clock.advance(seconds);
        timer.tick();
    }
    MemoryRegistry battery;
    MemoryPreferenceStore store;
    FakeTimer timer;
    FakeSleepNotifications sleep;
    FakeFileOpener opener;
    FakeTextField consumption, health, total;
    FakeCheckBox watts;
    std::unique_ptr<ViewController> controller;
};

TEST(DurationText, DropsSecondsAndNeverWrapsHours)
{
    EXPECT_EQ(durationText(59), "00:00");
    EXPECT_EQ(durationText(60), "00:01");
    EXPECT_EQ(durationText(3599), "00:59");
    EXPECT_EQ(durationText(3600), "01:00");
    EXPECT_EQ(durationText(360000), "100:00");
    EXPECT_EQ(durationText(-65), "00:00") << "never a negative duration";
}

TEST_F(ViewControllerTest, RuntimeEstimateWaitsForTenSecondsAndATenthOfAPoint)
{
    ViewController& c = start();
    c.startedCountingAtPercentage = 0.75;
    c.dischargeTimer.startedAt = clock.now() - 3600;
    EXPECT_EQ(c.estimatedRuntimeSeconds(0.5, false), 14400);
    c.usedDuringSleepPercentage = 0.05;
    EXPECT_EQ(c.estimatedRuntimeSeconds(0.5, true), 18000);
    EXPECT_EQ(c.estimatedRuntimeSeconds(0.4995, false), 14371) << "3600 / 0.2505 truncated";
    c.startedCountingAtPercentage = 0.5;
    EXPECT_EQ(c.estimatedRuntimeSeconds(0.4995, false), 0) << "used below 0.001";
    c.dischargeTimer.startedAt = clock.now() - 9;
    EXPECT_EQ(c.estimatedRuntimeSeconds(0.1, false), 0) << "fewer than 10 s";
}

TEST_F(ViewControllerTest, PowerIsPercentOfFullChargePerHourAndNeverNan)
{
    ViewController& c = start();
    EXPECT_EQ(c.formatPower(1250), "25.0 %/h");
    EXPECT_EQ(c.formatPower(-2100), "-42.0 %/h");
    c.batteryTotalCapacity = 0;
    EXPECT_EQ(c.formatPower(0), "0.0 %/h");
}

TEST_F(ViewControllerTest, WattsBoxSwitchesTheWindowButNotTheLog)
{
    ViewController& c = start();
    tick();
    tick();
    EXPECT_EQ(consumption.text, "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    watts.checked = true;
    c.useWattsToggled();
    EXPECT_EQ(consumption.text, "15.0 W (15.0 W recent, 15.0 W avg)");
    EXPECT_EQ(c.formatPower(1250), "25.0 %/h");
    watts.checked = false;
    c.useWattsToggled();
    EXPECT_EQ(consumption.text, "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
}

TEST_F(ViewControllerTest, HealthIsUnknownWithoutDesignCapacityAndNothingShowsNan)
{
    ViewController& c = start();
    tick();
    EXPECT_EQ(health.text, "83.3% (5000mAh of 6000mAh)");
    battery.set("DesignCapacity", std::int64_t{0});
    tick();
    EXPECT_EQ(health.text, "(unknown)");
    battery.set("MaxCapacity", std::int64_t{0});
    tick();
    EXPECT_EQ(consumption.text, "(no battery)");
    EXPECT_EQ(c.figures().ratePerHour.value_or(0), 25.0) << "the last readable tick stands";
    for (const auto* field : {&consumption, &health, &total})
        EXPECT_EQ(field->text.find("nan"), std::string::npos) << field->text;
}

TEST_F(ViewControllerTest, BeforeTheFirstCurrentSinceAStartOrAWakeTheChargeShowsAndNothingCounts)
{
    battery.remove("Amperage");
    ViewController& c = start();
    EXPECT_EQ(health.text, "83.3% (5000mAh of 6000mAh)");
    EXPECT_EQ(consumption.text, "(please wait)");
    EXPECT_EQ(total.text, "(please wait)");
    EXPECT_EQ(c.figures().charge, 0.8);
    EXPECT_EQ(c.figures().currentMA, std::nullopt);
    EXPECT_EQ(c.dischargeTimer.startedAt, 0);
    battery.set("Amperage", std::int64_t{-1250});
    tick();
    EXPECT_EQ(c.dischargeTimer.startedAt, clock.now());
    // Once read, a current that is gone is an unreadable battery again.
    battery.remove("Amperage");
    tick();
    EXPECT_EQ(health.text, "(no battery)");
    sleep.sleep();
    clock.advance(600);
    sleep.wake();
    EXPECT_EQ(health.text, "83.3% (5000mAh of 6000mAh)");
    EXPECT_EQ(consumption.text, "(please wait)");
    battery.remove("CurrentCapacity");
    tick();
    EXPECT_EQ(health.text, "(no battery)") << "no charge, nothing known";
}

TEST_F(ViewControllerTest, SleepSavesTheCountBeforeTheMachineSuspends)
{
    start();
    tick();
    battery.set("CurrentCapacity", std::int64_t{3900});
    sleep.sleep();
    EXPECT_DOUBLE_EQ(store.doubleForKey("lastPercentage"), 0.78);
    EXPECT_DOUBLE_EQ(store.doubleForKey("batteryUsage.lastHeartBeat"), clock.now());
    const int writesBefore = consumption.writes;
    tick();
    EXPECT_EQ(consumption.writes, writesBefore) << "ticks in sleep do nothing";
    EXPECT_NE(log().find("Entering sleep at 78.0%"), std::string::npos);
}

TEST_F(ViewControllerTest, ShowLogOpensTheLogFileAndChangesNothing)
{
    ViewController& c = start();
    tick();
    const std::string before = log();
    EXPECT_TRUE(c.showLog());
    opener.succeeds = false;
    EXPECT_FALSE(c.showLog());
    ASSERT_EQ(opener.opened.size(), 2u);
    EXPECT_EQ(opener.opened[0], (folder.path() / "Drainwatch.log").string());
    EXPECT_EQ(log(), before);
    EXPECT_TRUE(store.entries().empty());
}

TEST_F(ViewControllerTest, TimerRunsEveryFiveSecondsAndFiguresFollowTheLastTick)
{
    ViewController& c = start();
    EXPECT_EQ(timer.interval, 5.0);
    battery.set("Amperage", std::int64_t{-2500});
    tick();
    const MonitorFigures figures = c.figures();
    EXPECT_DOUBLE_EQ(figures.charge.value_or(0), 0.8);
    EXPECT_DOUBLE_EQ(figures.currentMA.value_or(0), 2500);
    EXPECT_DOUBLE_EQ(figures.ratePerHour.value_or(0), 50);
    EXPECT_GT(figures.averagePerHour.value_or(0), 25);
}

} // namespace
} // namespace drainwatch
