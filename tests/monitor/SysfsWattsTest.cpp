// SPDX-License-Identifier: MIT
#include "battery/SysfsRegistry.h"
#include "measure/MemoryPreferenceStore.h"
#include "monitor/ViewController.h"
#include "sleep/SleepLedger.h"
#include "sleep/SleepTracker.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <utility>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;

void writeAttributes(const fs::path& folder, std::initializer_list<std::pair<const char*, const char*>> attributes)
{
    for (const auto& [name, value] : attributes)
        std::ofstream(folder / name) << value << '\n';
}

// The monitor on a copy of one of the recorded trees, with the window's
// watts on and sleep records kept.
class SysfsWattsTest : public test::LoggedTest {
protected:
    void start(const char* tree)
    {
        logInFolder();
        fs::copy(fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / tree, machine, fs::copy_options::recursive);
        registry = std::make_unique<SysfsRegistry>(machine, clock);
        controller = std::make_unique<ViewController>(MonitorServices{clock, *registry, store, timer, sleep, opener});
        controller->consumptionLabel = &consumption;
        controller->useWattsCheckbox = &watts;
        controller->sleepTracker = &tracker;
        watts.checked = true;
        controller->viewDidLoad();
        controller->viewDidAppear();
        // The first tick on battery says "(please wait)"; the second has figures.
        for (int tick = 0; tick < 2; ++tick) {
            clock.advance(5);
            timer.tick();
        }
    }
    // The watts the window shows now, before rounding to its one decimal.
    double wattsNow() const { return *controller->figures().currentMA * controller->powerVoltage / 1000; }
    // The sleep record of an hour's suspend, across which the tree is changed.
    const SleepRecord& sleepAcross(std::initializer_list<std::pair<const char*, const char*>> bat0,
                                   std::initializer_list<std::pair<const char*, const char*>> bat1 = {})
    {
        controller->receiveSleepNote();
        clock.suspend(3600);
        writeAttributes(machine / "BAT0", bat0);
        writeAttributes(machine / "BAT1", bat1);
        controller->receiveWakeNote();
        EXPECT_TRUE(tracker.lastRecord());
        return *tracker.lastRecord();
    }

    test::TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "power_supply";
    MemoryPreferenceStore store;
    test::FakeTimer timer;
    test::FakeSleepNotifications sleep;
    test::FakeFileOpener opener;
    test::FakeSystem system;
    SleepLedger ledger;
    SleepTracker tracker{clock, system, ledger};
    test::FakeTextField consumption;
    test::FakeCheckBox watts;
    std::unique_ptr<SysfsRegistry> registry;
    std::unique_ptr<ViewController> controller;
};

// The keys' mAh are whole: a fall is known to one mAh at the keys' voltage.
constexpr double kWholeMAh = 1;

TEST_F(SysfsWattsTest, EnergyBatteryShowsItsPowerNowAndASleepCostsItsFallOfEnergy)
{
    start("b-thinkpad-energy-discharging");
    EXPECT_NEAR(wattsNow(), 5.002, 5.002 * 0.005);
    EXPECT_TRUE(consumption.text.starts_with("5.0 W")) << consumption.text;
    // 36.58 Wh to 35.58 Wh; 1084.38 mWh when the mAh were multiplied by voltage_now.
    const SleepRecord& record = sleepAcross({{"energy_now", "35580000"}});
    ASSERT_TRUE(record.usedMWh);
    EXPECT_NEAR(*record.usedMWh, 1000, kWholeMAh * 10.8);
    EXPECT_NEAR(*record.milliwatts, 1000, kWholeMAh * 10.8);
}

TEST_F(SysfsWattsTest, EnergyBatteryWithACurrentShowsItAtVoltageNow)
{
    start("j-energy-current-only");
    EXPECT_NEAR(wattsNow(), 0.429 * 11.66, 5.002 * 0.005);
    EXPECT_TRUE(consumption.text.starts_with("5.0 W")) << consumption.text;
    // The voltage sags in the sleep: the energy fell all the same.
    const SleepRecord& record = sleepAcross({{"energy_now", "35580000"}, {"voltage_now", "11200000"}});
    ASSERT_TRUE(record.usedMWh);
    EXPECT_NEAR(*record.usedMWh, 1000, kWholeMAh * 10.8);
}

TEST_F(SysfsWattsTest, TwoPacksShowTheirPowersAddedAndASleepTheirFalls)
{
    start("k-two-packs-different-voltage");
    // 5.002 W of power_now and 0.5 A at 7.4 V; 9.3 W at the first pack's voltage_now.
    const double watts = 5.002 + 0.5 * 7.4;
    EXPECT_NEAR(wattsNow(), watts, watts * 0.005);
    EXPECT_TRUE(consumption.text.starts_with("8.7 W")) << consumption.text;
    // Asleep the packs drain as they did awake: BAT0 1 Wh, BAT1 100 mAh at 7.4 V meanwhile.
    const SleepRecord& record = sleepAcross({{"energy_now", "35580000"}}, {{"charge_now", "1400000"}});
    ASSERT_TRUE(record.usedMWh);
    EXPECT_NEAR(*record.usedMWh, 1000 + 100 * 7.4, kWholeMAh * 11.4);
}

} // namespace
} // namespace drainwatch
