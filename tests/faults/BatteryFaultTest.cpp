// SPDX-License-Identifier: MIT
// A battery that goes away or reports nonsense, read through the real sysfs
// source by the real monitor, on a clock the test moves.
#include "battery/SysfsRegistry.h"
#include "log/Logger.h"
#include "measure/MemoryPreferenceStore.h"
#include "monitor/ViewController.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;

// The fixture's battery: 2119000 of 6439000 µAh, discharging at 1675000 µA.
const fs::path kFixture = fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / "a-acpi-charge-discharging";
constexpr std::int64_t kFull = 6439000;
constexpr std::int64_t kNow = 2119000;

// Every form a text may take: nan, inf or a negative duration is none of them.
const std::regex kSaneText(R"(\((no battery|on AC power|please wait|unknown)\)|\d{2,}:\d{2}|\d+\.\d%)"
                           R"(|\d+\.\d %/h \((charging|\d+\.\d %/h recent, \d+\.\d %/h avg)\))"
                           R"(|\d+\.\d% \(\d+mAh of \d+mAh\))");

// A writable copy of a fixture tree, as sysfs lets root write it.
fs::path copyBattery(const fs::path& from, const fs::path& to)
{
    fs::copy(from, to, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(to))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    return to;
}

// Firmware that gives neither current nor power: 48 of 60 Wh (80 %, 75 % health), 12 V.
const fs::path kRateless = fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / "i-rateless-voltage-sag";

// The monitor on a copy of the fixture; it counts from construction.
struct Laptop {
    explicit Laptop(const fs::path& fixture = kFixture) : tree(copyBattery(fixture, home.path() / "power_supply"))
    {
        Logger::installMain(std::make_unique<Logger>(home.path() / "Drainwatch.log", clock, false));
        for (const auto& outlet : kTextOutlets)
            controller.*outlet.member = &fields[outlet.name];
        controller.viewDidLoad();
        controller.viewDidAppear();
    }
    ~Laptop() { Logger::installMain(nullptr); }

    void set(const char* attribute, const std::string& value) { std::ofstream(tree / "BAT0" / attribute) << value; }
    const std::string& text(const char* outlet) const { return fields.at(outlet).text; }
    std::int64_t awake() const { return controller.dischargeTimer.currentTimeSeconds(); }
    bool showsNoBattery() const
    {
        const auto absent = [](const auto& field) { return field.second.text == "(no battery)"; };
        return std::all_of(fields.begin(), fields.end(), absent);
    }
    // A tick every 5 s, every text checked.
    void run(int seconds)
    {
        for (int done = 0; done < seconds && !::testing::Test::HasFatalFailure(); done += 5) {
            clock.advance(5);
            timer.tick();
            for (const auto& [outlet, field] : fields)
                ASSERT_TRUE(std::regex_match(field.text, kSaneText)) << outlet << " = '" << field.text << "'";
        }
    }

    test::TemporaryFolder home;
    const fs::path tree;
    test::FakeClock clock;
    MemoryPreferenceStore store;
    test::FakeTimer timer;
    test::FakeSleepNotifications sleep;
    test::FakeFileOpener opener;
    std::map<std::string, test::FakeTextField> fields;
    SysfsRegistry registry{tree, clock};
    ViewController controller{MonitorServices{clock, registry, store, timer, sleep, opener}};
};

TEST(BatteryFault, BatteryRemovedAndRestoredCountsAsAGapWithItsChargeBooked)
{
    Laptop laptop;
    laptop.run(60);
    // A removal shorter than the heartbeat allowance loses nothing.
    const fs::path stash = laptop.home.path() / "BAT0";
    fs::rename(laptop.tree / "BAT0", stash);
    laptop.run(5);
    EXPECT_TRUE(laptop.showsNoBattery());
    fs::rename(stash, laptop.tree / "BAT0");
    laptop.run(5);
    EXPECT_EQ(laptop.awake(), 70);
    EXPECT_EQ(laptop.text("usedInSleepLabel"), "0.0%");

    // A long one: nothing counts meanwhile, and the battery that comes back
    // 1 % lower finds the time cut out and the loss booked as in sleep.
    const double heartbeat = laptop.controller.dischargeTimer.lastHeartBeat;
    fs::remove_all(laptop.tree / "BAT0");
    laptop.run(120);
    EXPECT_TRUE(laptop.showsNoBattery());
    EXPECT_EQ(laptop.controller.dischargeTimer.lastHeartBeat, heartbeat) << "no heartbeat without a battery";
    copyBattery(kFixture / "BAT0", laptop.tree / "BAT0");
    laptop.set("charge_now", std::to_string(kNow - kFull / 100));
    laptop.run(5);
    EXPECT_EQ(laptop.awake(), 70) << "the 125 s without a battery are not awake time";
    EXPECT_EQ(laptop.text("usedInSleepLabel"), "1.0%");
    EXPECT_NE(test::readFile(laptop.home.path() / "Drainwatch.log").find("Missed heartbeat, last was 125s ago"),
              std::string::npos);
    laptop.run(60);
    EXPECT_EQ(laptop.awake(), 130) << "the count resumes";
    EXPECT_EQ(laptop.text("currentChargeLabel"), "31.9%");
}

TEST(BatteryFault, EmptyGarbledOrAbsurdValuesShowNoBatteryOrSaneTextsAndTheCountResumes)
{
    struct BadValue {
        const char* attribute;
        std::string value;
        bool readable; // only a side figure is lost: the count goes on
    } const cases[] = {
        {"charge_now", "", false},
        {"charge_now", "abc\n", false},
        {"charge_now", "-5\n", false},
        {"charge_now", std::to_string(2 * kFull), false},
        {"charge_full", "0\n", false},
        {"charge_full", "1\n", false},
        {"current_now", "\n", false},
        {"current_now", "1675000x\n", false},
        {"current_now", "99999999999999999999\n", false},
        {"current_now", "4293292296\n", false}, // -1675000 as unsigned 32 bits, as some firmware gives it
        {"status", "\n", true},
        {"voltage_now", "0\n", true},
        {"charge_full_design", "0\n", true},
    };
    for (const BadValue& bad : cases) {
        SCOPED_TRACE(std::string(bad.attribute) + "='" + bad.value + "'");
        Laptop laptop;
        laptop.run(30);
        const std::string original = test::readFile(laptop.tree / "BAT0" / bad.attribute);
        // Longer than the heartbeat allowance.
        laptop.set(bad.attribute, bad.value);
        laptop.run(30);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(laptop.showsNoBattery(), !bad.readable);
        laptop.set(bad.attribute, original);
        laptop.run(30);
        EXPECT_EQ(laptop.awake(), bad.readable ? 90 : 55) << "an unreadable spell is cut out like a stop";
        EXPECT_EQ(laptop.text("currentChargeLabel"), "32.9%");
        EXPECT_EQ(laptop.text("countingSinceLabel"), "32.9%") << "counting since a charge the battery really had";
        EXPECT_EQ(laptop.text("usedInSleepLabel"), "0.0%");
        EXPECT_EQ(laptop.text("consumptionLabel"), "26.0 %/h (26.0 %/h recent, 26.0 %/h avg)")
            << "no absurd sample in the averages";
    }
}

TEST(BatteryFault, WithoutARateChargeAndHealthShowAtOnceAndTheCountStartsWithTheFirstRate)
{
    Laptop laptop(kRateless);
    const auto waiting = [&] {
        return std::count_if(laptop.fields.begin(), laptop.fields.end(),
                             [](const auto& field) { return field.second.text == "(please wait)"; });
    };
    // 12 W, the energy read afresh at every tick.
    double energy = 48e6;
    const auto drain = [&](int seconds) {
        for (int done = 0; done < seconds; done += 5) {
            energy -= 12e6 * 5 / 3600;
            laptop.set("energy_now", std::to_string(std::llround(energy)));
            laptop.run(5);
        }
    };
    EXPECT_EQ(laptop.text("currentChargeLabel"), "80.0%");
    EXPECT_EQ(laptop.text("healthLabel"), "75.0% (5000mAh of 6667mAh)");
    EXPECT_EQ(waiting(), 7) << "the times, rates, counting since and used in sleep";
    const double start = laptop.clock.now();
    drain(5);
    EXPECT_EQ(waiting(), 7);
    EXPECT_EQ(laptop.controller.dischargeTimer.startedAt, 0) << "no count without a current";
    drain(5);
    EXPECT_EQ(laptop.controller.dischargeTimer.startedAt, start + 10) << "a rate from two readings 10 s apart";
    drain(10);
    EXPECT_EQ(laptop.text("consumptionLabel"), "20.0 %/h (20.0 %/h recent, 20.0 %/h avg)");

    // After a sleep the rate is found afresh; the charge stays in view meanwhile.
    laptop.sleep.sleep();
    laptop.clock.advance(600);
    energy = 46e6;
    laptop.set("energy_now", "46000000");
    laptop.sleep.wake();
    EXPECT_EQ(laptop.text("currentChargeLabel"), "76.7%");
    EXPECT_EQ(waiting(), 7);
    drain(10);
    EXPECT_EQ(laptop.text("usedInSleepLabel"), "3.3%");
    EXPECT_EQ(laptop.awake(), 10) << "the time asleep is cut out";
}

TEST(BatteryFault, ABatteryPluggedInAfterStartIsCountedWithinAMinute)
{
    Laptop laptop(fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / "f-desktop-mains-only");
    laptop.run(30);
    EXPECT_TRUE(laptop.showsNoBattery());
    fs::remove_all(laptop.tree / "AC");
    copyBattery(kFixture / "AC", laptop.tree / "AC");
    copyBattery(kFixture / "BAT0", laptop.tree / "BAT0");
    laptop.run(5);
    EXPECT_EQ(laptop.text("currentChargeLabel"), "32.9%");
    laptop.run(60);
    EXPECT_EQ(laptop.awake(), 60);
}

} // namespace
} // namespace drainwatch
