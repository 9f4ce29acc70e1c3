#include "battery/BatteryListener.h"
#include "battery/SysfsRegistry.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;
using Key = Battery::Key;
using Values = std::vector<std::optional<std::int64_t>>;
using test::TemporaryFolder;
constexpr auto none = std::nullopt;

fs::path fixture(const char* name) { return fs::path(DRAINWATCH_TEST_DATA) / "power_supply" / name; }

// Each attribute holds its value and a newline, as sysfs prints it.
void writeSupply(const fs::path& folder, std::initializer_list<std::pair<const char*, const char*>> attributes)
{
    fs::create_directories(folder);
    for (const auto& [name, value] : attributes)
        std::ofstream(folder / name) << value << '\n';
}

void writeBattery(const fs::path& folder, const char* status, const char* currentNow)
{
    writeSupply(folder, {{"type", "Battery"}, {"status", status}, {"charge_now", "2000000"}, {"charge_full", "5000000"},
                         {"current_now", currentNow}});
}

struct Reader {
    explicit Reader(const fs::path& folder) : registry(folder, clock), listener(registry) {}
    const Battery& battery() const { return listener.batt; }
    // The keys as integers, truth values as 0 and 1.
    Values read(std::initializer_list<Key> keys) const
    {
        Values values;
        for (Key key : keys)
            values.push_back(battery().integer(key));
        return values;
    }
    test::FakeClock clock;
    SysfsRegistry registry;
    BatteryListener listener;
};

TEST(SysfsFixtures, EachMachineMapsToOneBattery)
{
    const std::pair<const char*, Values> cases[] = {
        // current, max, design mAh; mA; minutes; cycles; external power; charging
        {"a-acpi-charge-discharging", {2119, 6439, 7393, -1675, 76, 99, 0, 0}},
        // µWh / voltage_min_design, not voltage_now; mA from power_now; cycle_count 0 is unknown.
        {"b-thinkpad-energy-discharging", {3387, 4173, 4400, -463, 439, none, 0, 0}},
        {"c-two-batteries", {4125, 10000, 13333, none, none, none, 0, 0}}, // 48 + 1.5 Wh; no rate yet
        {"d-usbc-ucsi-charging", {3587, 5978, 6842, 2000, 72, none, 1, 1}}, // time to full
        {"e-laptop-plus-hid-mouse", {4000, 5000, 6667, none, none, none, 0, 0}}, // the mouse is left out
        {"g-not-charging-threshold", {4000, 5000, 6667, 0, none, none, 1, 0}}, // held at a threshold
        {"h-negative-current-discharging", {7875, 10500, 11000, -787, 600, none, 0, 0}},
    };
    for (const auto& [name, expected] : cases) {
        Reader reader(fixture(name));
        EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity, Key::DesignCapacity, Key::Amperage,
                               Key::TimeRemaining, Key::CycleCount, Key::ACPowered, Key::IsCharging}),
                  expected)
            << name;
    }
}

TEST(SysfsFixtures, UsbCPortsAreLinePowerWithoutAnAcSupply)
{
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "usb-only";
    fs::copy(fixture("d-usbc-ucsi-charging"), machine, fs::copy_options::recursive);
    fs::remove_all(machine / "AC");
    Reader reader(machine);
    EXPECT_EQ(reader.battery().isACPowered(), true);
    // Both ports offline: the ports decide, not the battery's Charging status.
    writeSupply(machine / "ucsi-source-psy-USBC000:003", {{"online", "0"}});
    EXPECT_EQ(reader.battery().isACPowered(), false);
}

TEST(SysfsFixtures, NoBatteryGivesNoServiceAndNoValues)
{
    TemporaryFolder empty;
    for (const fs::path& folder : {fixture("f-desktop-mains-only"), empty.path(), empty.path() / "missing"}) {
        Reader reader(folder);
        EXPECT_EQ(reader.battery().service, 0u) << folder;
        for (int i = 0; i < Battery::keyCount; ++i)
            EXPECT_FALSE(reader.registry.property(SysfsRegistry::kEntry, Battery::rawValue(Key(i)))) << folder;
    }
}

TEST(SysfsRegistryHandles, ServiceNameReleaseAndDefaultFolder)
{
    Reader reader(fixture("a-acpi-charge-discharging"));
    SysfsRegistry& registry = reader.registry;
    EXPECT_EQ(registry.matchingService("AppleSmartBatteryX"), 0u);
    EXPECT_FALSE(registry.property(SysfsRegistry::kEntry, "CurrentCapacity2"));
    EXPECT_EQ(reader.listener.batt.close(), kIOReturnSuccess);
    EXPECT_FALSE(registry.property(SysfsRegistry::kEntry, "CurrentCapacity")) << "a released handle reads nothing";
    EXPECT_NE(registry.release(SysfsRegistry::kEntry), kIOReturnSuccess);

    setenv("DRAINWATCH_POWER_SUPPLY_DIR", "/tmp/elsewhere", 1);
    EXPECT_EQ(SysfsRegistry::defaultFolder(), fs::path("/tmp/elsewhere"));
    unsetenv("DRAINWATCH_POWER_SUPPLY_DIR");
    EXPECT_EQ(SysfsRegistry::defaultFolder(), fs::path("/sys/class/power_supply"));
}

TEST(SysfsStatus, DirectionAndExternalPowerFollowTheStatus)
{
    // status, Mains online ("" for no Mains supply), current_now -> mA, external, charging, full, minutes
    const std::tuple<const char*, const char*, const char*, Values> cases[] = {
        {"Discharging", "", "500000", {-500, 0, 0, 0, 240}},
        {"Charging", "", "500000", {500, 1, 1, 0, 360}},
        {"Full", "", "500000", {0, 1, 0, 1, none}},
        {"Not charging", "", "500000", {0, 1, 0, 0, none}},
        {"Unknown", "", "500000", {-500, 0, 0, 0, 240}},
        {"Unknown", "2", "500000", {500, 1, 0, 0, 360}},
        {"Charging", "0", "-500000", {-500, 0, 1, 0, 240}},
    };
    for (const auto& [status, online, current, expected] : cases) {
        TemporaryFolder machine;
        writeBattery(machine.path() / "BAT0", status, current);
        if (*online)
            writeSupply(machine.path() / "ADP1", {{"type", "Mains"}, {"online", online}});
        Reader reader(machine.path());
        EXPECT_EQ(reader.read({Key::Amperage, Key::ACPowered, Key::IsCharging, Key::FullyCharged, Key::TimeRemaining}),
                  expected)
            << status << ", online " << online;
    }
}

TEST(SysfsValues, KernelTimeTemperatureCyclesAndVoltage)
{
    TemporaryFolder machine;
    writeBattery(machine.path() / "BAT0", "Discharging", "500000");
    writeSupply(machine.path() / "BAT0", {{"time_to_empty_now", "5400"}, {"time_to_full_now", "60"}, {"temp", "305"},
                                          {"cycle_count", "42"}, {"voltage_now", "12345678"}});
    Reader reader(machine.path());
    // The kernel's own estimate (90) wins over 240 computed; 30.5 °C is 3050, shown as 31.
    EXPECT_EQ(reader.read({Key::TimeRemaining, Key::Temperature, Key::CycleCount, Key::Voltage}),
              (Values{90, 3050, 42, 12346}));
    EXPECT_EQ(reader.battery().temperature(), 31.0);
}

TEST(SysfsBrokenValues, UnreadableOrNegativeGiveNoValueAndLoseNothing)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeSupply(battery, {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "abc"}, {"cycle_count", "-3"},
                          {"temp", "2.5"}, {"energy_now", "1000000"}, {"voltage_min_design", "0"}});
    std::ofstream(battery / "charge_full").flush(); // empty, no newline
    fs::create_directory(battery / "charge_full_design");
    fs::create_symlink(battery / "nowhere", battery / "current_now");
    ASSERT_EQ(mkfifo((battery / "voltage_now").c_str(), 0600), 0);

    Reader reader(machine.path());
    ASSERT_NE(reader.battery().service, 0u);
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity, Key::DesignCapacity, Key::Amperage, Key::CycleCount,
                           Key::Temperature, Key::Voltage, Key::TimeRemaining, Key::ACPowered}),
              (Values{none, none, none, none, none, none, none, none, 0}))
        << "external power still follows the status";
    writeSupply(battery, {{"charge_now", "2500000"}});
    EXPECT_EQ(reader.battery().currentCapacity(), 2500) << "a value that reads again is taken at once";
    writeSupply(battery, {{"charge_now", "-5000"}, {"charge_full", "0"}});
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity}), (Values{none, 0})) << "negative charge is no value";
}

TEST(SysfsDerivedRate, FromTheFallOfChargeOverFifteenSeconds)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeSupply(battery, {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "3000000"}, {"charge_full", "4000000"}});
    Reader reader(machine.path());
    const auto step = [&](double seconds, const char* microampHours) {
        reader.clock.advance(seconds);
        if (microampHours)
            writeSupply(battery, {{"charge_now", microampHours}});
        return reader.battery().amperage();
    };
    EXPECT_EQ(reader.battery().amperage(), none) << "one reading";
    EXPECT_EQ(step(10, "2995000"), none) << "10 s apart";
    EXPECT_EQ(step(8, "2990000"), -2000); // 10 mAh in 18 s
    EXPECT_EQ(step(15, nullptr), -2000) << "a charge not yet refreshed is no news, not 0 mA";
    EXPECT_EQ(reader.battery().timeRemaining(), 90); // 2990 mAh at 2000 mA
    EXPECT_EQ(step(-60, nullptr), none) << "clock set back: start again";
    EXPECT_EQ(step(600, "2980000"), none) << "a sleep's fall is no drain rate";
    EXPECT_EQ(step(15, "2975000"), -1200); // 5 mAh in 15 s
}

TEST(SysfsDerivedRate, TwoBatteriesReadAsOne)
{
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "two";
    fs::copy(fixture("c-two-batteries"), machine, fs::copy_options::recursive);
    Reader reader(machine);
    EXPECT_EQ(reader.battery().amperage(), none);
    reader.clock.advance(18);
    writeSupply(machine / "BAT0", {{"energy_now", "47940000"}}); // 5 mAh at 12 V
    writeSupply(machine / "BAT1", {{"energy_now", "1482000"}});  // 1.5 mAh
    EXPECT_EQ(reader.read({Key::Amperage, Key::TimeRemaining}), (Values{-1300, 190})); // 4118.5 mAh at 1300 mA
}

TEST(SysfsLayout, FollowsLinksSkipsOtherSuppliesAndFindsABatteryThatCameBack)
{
    TemporaryFolder root;
    const fs::path machine = root.path() / "class";
    writeBattery(root.path() / "devices" / "BAT0", "Charging", "500000");
    writeSupply(machine / "AC", {{"type", "Mains"}, {"online", "0"}});
    writeSupply(machine / "BAT1", {{"type", "Battery"}, {"present", "0"}, {"charge_now", "1000000"}});
    writeSupply(machine / "dock-usb", {{"type", "USB"}, {"scope", "Device"}, {"online", "1"}});
    std::ofstream(machine / "stray") << "Battery\n";
    fs::create_directory_symlink(root.path() / "devices" / "BAT0", machine / "BAT0");
    Reader reader(machine);
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::Amperage, Key::ACPowered}), (Values{2000, 500, 0}));

    fs::rename(machine / "BAT0", root.path() / "parked");
    EXPECT_EQ(reader.battery().currentCapacity(), none);
    for (int i = 0; i < Battery::keyCount; ++i)
        EXPECT_FALSE(reader.registry.property(SysfsRegistry::kEntry, Battery::rawValue(Key(i))));
    fs::rename(root.path() / "parked", machine / "BAT0");
    EXPECT_EQ(reader.battery().currentCapacity(), 2000);
    // Without the AC supply the status speaks for the charger.
    fs::remove_all(machine / "AC");
    EXPECT_EQ(reader.battery().isACPowered(), true) << "the read that finds AC gone";
    EXPECT_EQ(reader.battery().isACPowered(), true) << "after the rescan";
}

} // namespace
} // namespace drainwatch
