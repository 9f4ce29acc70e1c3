// A battery that goes away or reports nonsense, read through the real sysfs
// source by the real monitor, on a clock the test moves.
#include "battery/SysfsRegistry.h"
#include "log/Logger.h"
#include "measure/MemoryPreferenceStore.h"
#include "monitor/ViewController.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <regex>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;

const fs::path kFixture = fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / "a-acpi-charge-discharging";
// The fixture's battery: 2119000 of 6439000 µAh, discharging at 1675000 µA.
constexpr std::int64_t kFull = 6439000;
constexpr std::int64_t kNow = 2119000;
const char* const kNoBattery = "(no battery)";

// Every form a text may take; anything else (nan, inf, a negative
// duration, a number in exponent form where a figure belongs) is a fault.
bool saneText(const std::string& text)
{
    static const std::regex forms(
        R"(\((no battery|on AC power|please wait|unknown)\))"
        R"(|\d{2,}:\d{2})"
        R"(|\d+\.\d%)"
        R"(|\d+\.\d %/h \((charging|\d+\.\d %/h recent, \d+\.\d %/h avg)\))"
        R"(|\d+\.\d% \(\d+mAh of \d+mAh\))");
    return std::regex_match(text, forms);
}

// A writable copy of the fixture tree, as sysfs would let root write it.
void copyBattery(const fs::path& from, const fs::path& to)
{
    fs::copy(from, to, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(to))
        fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

// The monitor on a copy of a fixture tree; starts counting at construction.
class Laptop {
public:
    Laptop()
    {
        Logger::installMain(std::make_unique<Logger>(home.path() / "Drainwatch.log", clock, false));
        controller.timeAwakeLabel = &fields[0];
        controller.timeOnBatteryLabel = &fields[1];
        controller.consumptionLabel = &fields[2];
        controller.plannedRuntimeLabel = &fields[3];
        controller.totalRuntimeLabel = &fields[4];
        controller.currentChargeLabel = &fields[5];
        controller.countingSinceLabel = &fields[6];
        controller.usedInSleepLabel = &fields[7];
        controller.healthLabel = &fields[8];
        controller.viewDidLoad();
        controller.viewDidAppear();
    }
    ~Laptop() { Logger::installMain(nullptr); }

    void set(const char* attribute, const std::string& value) { std::ofstream(tree / "BAT0" / attribute) << value; }
    void tick()
    {
        clock.advance(5);
        timer.tick();
        for (const auto& field : fields)
            ASSERT_TRUE(saneText(field.text)) << "'" << field.text << "'";
    }
    void run(double seconds)
    {
        for (double done = 0; done < seconds && !::testing::Test::HasFatalFailure(); done += 5)
            tick();
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> all;
        for (const auto& field : fields)
            all.push_back(field.text);
        return all;
    }
    bool showsNoBattery() const { return texts() == std::vector<std::string>(9, kNoBattery); }
    std::int64_t awake() const { return controller.dischargeTimer.currentTimeSeconds(); }
    std::string log() const { return test::readFile(home.path() / "Drainwatch.log"); }

    test::TemporaryFolder home;
    // The battery is there before the monitor opens it.
    const fs::path tree = (copyBattery(kFixture, home.path() / "power_supply"), home.path() / "power_supply");
    test::FakeClock clock;
    MemoryPreferenceStore store;
    test::FakeTimer timer;
    test::FakeSleepNotifications sleep;
    test::FakeFileOpener opener;
    std::array<test::FakeTextField, 9> fields;
    SysfsRegistry registry{tree, clock};
    ViewController controller{MonitorServices{clock, registry, store, timer, sleep, opener}};
};

TEST(BatteryFault, BatteryRemovedAndRestoredCountsAsAGapWithItsChargeBooked)
{
    Laptop laptop;
    laptop.run(60);
    ASSERT_EQ(laptop.fields[0].text, "00:01");

    // A removal shorter than the heartbeat allowance loses nothing.
    const fs::path stash = laptop.home.path() / "BAT0";
    fs::rename(laptop.tree / "BAT0", stash);
    laptop.tick();
    EXPECT_TRUE(laptop.showsNoBattery());
    fs::rename(stash, laptop.tree / "BAT0");
    laptop.tick();
    EXPECT_EQ(laptop.awake(), 70);
    EXPECT_EQ(laptop.controller.usedDuringSleepPercentage, 0);

    // A long one: nothing counts meanwhile, and the battery that comes back
    // (1 % lower) finds the time cut out and the loss booked as in sleep.
    const double heartbeat = laptop.controller.dischargeTimer.lastHeartBeat;
    fs::remove_all(laptop.tree / "BAT0");
    laptop.run(120);
    EXPECT_TRUE(laptop.showsNoBattery());
    EXPECT_EQ(laptop.controller.dischargeTimer.lastHeartBeat, heartbeat) << "no heartbeat without a battery";
    copyBattery(kFixture / "BAT0", laptop.tree / "BAT0");
    laptop.set("charge_now", std::to_string(kNow - kFull / 100));
    laptop.tick();
    EXPECT_EQ(laptop.awake(), 70) << "the 125 s without a battery are not awake time";
    EXPECT_EQ(laptop.fields[7].text, "1.0%");
    EXPECT_NE(laptop.log().find("Missed heartbeat, last was 125s ago"), std::string::npos) << laptop.log();

    laptop.run(60);
    EXPECT_EQ(laptop.awake(), 130) << "the count resumes";
    EXPECT_EQ(laptop.fields[5].text, "31.9%");
}

struct BadValue {
    const char* attribute;
    std::string value;
    bool readable; // the tick may still count: only a side figure is lost
};

TEST(BatteryFault, EmptyGarbledOrAbsurdValuesShowNoBatteryOrSaneTextsAndTheCountResumes)
{
    const BadValue cases[] = {
        {"charge_now", "", false},
        {"charge_now", "abc\n", false},
        {"charge_now", "-5\n", false},
        {"charge_now", std::to_string(2 * kFull), false},
        {"charge_full", "0\n", false},
        {"charge_full", "1\n", false},
        {"current_now", "\n", false},
        {"current_now", "1675000x\n", false},
        {"current_now", "99999999999999999999\n", false},
        // -1675000 read as unsigned 32 bits, as some firmware gives it.
        {"current_now", "4293292296\n", false},
        {"status", "\n", true},
        {"voltage_now", "0\n", true},
        {"charge_full_design", "0\n", true},
    };
    for (const BadValue& bad : cases) {
        SCOPED_TRACE(std::string(bad.attribute) + "='" + bad.value + "'");
        Laptop laptop;
        laptop.run(30);
        const std::string original = test::readFile(laptop.tree / "BAT0" / bad.attribute);
        const std::int64_t awakeBefore = laptop.awake();

        // Longer than the heartbeat allowance.
        laptop.set(bad.attribute, bad.value);
        laptop.run(30);
        if (HasFatalFailure())
            return;
        if (bad.readable) {
            EXPECT_FALSE(laptop.showsNoBattery());
            EXPECT_EQ(laptop.awake(), awakeBefore + 30);
        } else {
            EXPECT_TRUE(laptop.showsNoBattery()) << ::testing::PrintToString(laptop.texts());
        }

        laptop.set(bad.attribute, original);
        laptop.run(30);
        const std::int64_t resumed = bad.readable ? awakeBefore + 60 : awakeBefore + 25;
        EXPECT_EQ(laptop.awake(), resumed) << "an unreadable spell is cut out like a stop";
        EXPECT_EQ(laptop.fields[5].text, "32.9%");
        EXPECT_EQ(laptop.fields[6].text, "32.9%") << "counting since a charge the battery really had";
        EXPECT_EQ(laptop.fields[7].text, "0.0%");
        EXPECT_EQ(laptop.fields[2].text, "26.0 %/h (26.0 %/h recent, 26.0 %/h avg)") << "no absurd sample in the averages";
    }
}

} // namespace
} // namespace drainwatch
