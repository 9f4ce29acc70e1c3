// SPDX-License-Identifier: MIT
#include "battery/SysfsRegistry.h"
#include "battery/BatteryListener.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    writeSupply(folder, {{"type", "Battery"},
                         {"status", status},
                         {"charge_now", "2000000"},
                         {"charge_full", "5000000"},
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
        {"c-two-batteries", {4125, 10000, 13333, none, none, none, 0, 0}},       // 48 + 1.5 Wh; no rate yet
        {"d-usbc-ucsi-charging", {3587, 5978, 6842, 2000, 72, none, 1, 1}},      // time to full
        {"e-laptop-plus-hid-mouse", {4000, 5000, 6667, none, none, none, 0, 0}}, // the mouse is left out
        {"g-not-charging-threshold", {4000, 5000, 6667, 0, none, none, 1, 0}},   // held at a threshold
        {"h-negative-current-discharging", {7875, 10500, 11000, -787, 600, none, 0, 0}},
        // current_now flows at voltage_now (5.0 W), the capacities are at voltage_min_design: 36.58 Wh / 5.0 W.
        {"j-energy-current-only", {3387, 4173, 4400, -463, 439, none, 0, 0}},
        // 36.58 Wh and 1500 mAh at 7.6 V are 47.98 Wh, 41.5 % more than 1500 mAh counted as if at 11.4 V.
        {"k-two-packs-different-voltage", {4209, 7939, 8730, -772, 327, none, 0, 0}},
    };
    for (const auto& [name, expected] : cases) {
        Reader reader(fixture(name));
        EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity, Key::DesignCapacity, Key::Amperage,
                               Key::TimeRemaining, Key::CycleCount, Key::ACPowered, Key::IsCharging}),
                  expected)
            << name;
    }
}

TEST(SysfsPower, WattsAreTheBatterysOwnPowerOrItsCurrentAtTheVoltageOfTheMoment)
{
    // The power that flows: power_now, else |current_now| × voltage_now, summed over the packs.
    const std::tuple<const char*, double, std::int64_t> cases[] = {
        {"a-acpi-charge-discharging", 1.675 * 11.049, 11049},
        {"b-thinkpad-energy-discharging", 5.002, 10800},
        {"d-usbc-ucsi-charging", 2.0 * 8.647, 8647},
        {"h-negative-current-discharging", 0.787 * 12.0, 12000},
        {"j-energy-current-only", 0.429 * 11.66, 10800},
        {"k-two-packs-different-voltage", 5.002 + 0.5 * 7.4, 11270},
    };
    for (const auto& [name, watts, millivolts] : cases) {
        Reader reader(fixture(name));
        EXPECT_EQ(reader.battery().powerVoltage(), millivolts) << name;
        const double shown = std::fabs(*reader.listener.amperage()) * *reader.listener.powerVoltage() / 1000;
        EXPECT_NEAR(shown, watts, watts * 0.005) << name;
    }
    EXPECT_EQ(Reader(fixture("b-thinkpad-energy-discharging")).battery().voltage(), 11660) << "still voltage_now";

    TemporaryFolder scratch;
    const fs::path sagging = scratch.path() / "a";
    fs::copy(fixture("a-acpi-charge-discharging"), sagging, fs::copy_options::recursive);
    Reader reader(sagging);
    writeSupply(sagging / "BAT0", {{"voltage_now", "10500000"}});
    EXPECT_EQ(reader.read({Key::Amperage, Key::CurrentCapacity}), (Values{-1675, 2119})) << "charge keys do not sag";
    EXPECT_EQ(reader.battery().powerVoltage(), 10500) << "the current flows at the voltage of the moment";

    // A pack that counts charge and gives no voltage at all: its watts are not known.
    writeBattery(scratch.path() / "bare" / "BAT0", "Discharging", "500000");
    EXPECT_EQ(Reader(scratch.path() / "bare").battery().powerVoltage(), none);
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

TEST(SysfsFixtures, WithoutABatteryOnlyTheChargerIsKnown)
{
    TemporaryFolder empty;
    // folder, service found, external power
    const std::tuple<fs::path, bool, std::optional<std::int64_t>> cases[] = {
        {fixture("f-desktop-mains-only"), true, 1},
        {fixture("l-mains-battery-out"), true, 1}, // an empty bay
        {empty.path(), true, none},
        {empty.path() / "missing", false, none}, // no power supply class at all
    };
    for (const auto& [folder, found, external] : cases) {
        Reader reader(folder);
        EXPECT_EQ(reader.battery().service != 0, found) << folder;
        EXPECT_EQ(reader.battery().integer(Key::ACPowered), external) << folder;
        for (int i = 1; i < Battery::keyCount; ++i) // all but ExternalConnected
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
        {"Discharging", "", "500000", {-500, 0, 0, 0, 240}}, {"Charging", "", "500000", {500, 1, 1, 0, 360}},
        {"Full", "", "500000", {0, 1, 0, 1, none}},          {"Not charging", "", "500000", {0, 1, 0, 0, none}},
        {"Unknown", "", "500000", {-500, 0, 0, 0, 240}},     {"Unknown", "2", "500000", {500, 1, 0, 0, 360}},
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
    writeSupply(machine.path() / "BAT0", {{"time_to_empty_now", "5400"},
                                          {"time_to_full_now", "60"},
                                          {"temp", "305"},
                                          {"cycle_count", "42"},
                                          {"voltage_now", "12345678"}});
    Reader reader(machine.path());
    // 2000 mAh at the 500 mA shown, not the kernel's 90; 30.5 °C is 3050, shown as 31.
    EXPECT_EQ(reader.read({Key::TimeRemaining, Key::Temperature, Key::CycleCount, Key::Voltage}),
              (Values{240, 3050, 42, 12346}));
    EXPECT_EQ(reader.battery().temperature(), 31.0);
}

TEST(SysfsValues, TimeRemainingFollowsTheRateShownAndTheKernelsOnlyWithoutOne)
{
    TemporaryFolder scratch;
    const fs::path charging = scratch.path() / "usbc";
    fs::copy(fixture("d-usbc-ucsi-charging"), charging, fs::copy_options::recursive);
    writeSupply(charging / "BAT0", {{"time_to_full_now", "3720"}});
    // 2391 mAh to go at the 2000 mA shown.
    EXPECT_EQ(Reader(charging).battery().timeRemaining(), 72);

    const fs::path rateless = scratch.path() / "rateless";
    fs::copy(fixture("i-rateless-voltage-sag"), rateless, fs::copy_options::recursive);
    writeSupply(rateless / "BAT0", {{"time_to_empty_now", "9000"}});
    Reader reader(rateless);
    EXPECT_EQ(reader.read({Key::Amperage, Key::TimeRemaining}), (Values{none, 150})) << "no rate yet: the kernel's";
    reader.clock.advance(10);
    writeSupply(rateless / "BAT0", {{"energy_now", "47960000"}}); // 14.4 W
    EXPECT_EQ(reader.read({Key::Amperage, Key::TimeRemaining}), (Values{-1200, 200}));
}

// The recorded battery held at its end threshold of 80 %; charging again
// (at 60 %, 12 W), the time to full is to the threshold, not to 100 %.
TEST(SysfsValues, AChargeLimitIsReadAndTimeToFullStopsAtIt)
{
    EXPECT_EQ(Reader(fixture("g-not-charging-threshold")).read({Key::ChargeLimit, Key::IsCharging, Key::Amperage}),
              (Values{80, 0, 0}));
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "g";
    fs::copy(fixture("g-not-charging-threshold"), machine, fs::copy_options::recursive);
    writeSupply(machine / "BAT0", {{"status", "Charging"}, {"energy_now", "36000000"}, {"power_now", "12000000"}});
    EXPECT_EQ(Reader(machine).read({Key::ChargeLimit, Key::TimeRemaining}), (Values{80, 60})) << "12 Wh at 12 W";
    for (const char* none : {"100", "0", "garbage"}) {
        writeSupply(machine / "BAT0", {{"charge_control_end_threshold", none}});
        EXPECT_EQ(Reader(machine).read({Key::ChargeLimit, Key::TimeRemaining}), (Values{std::nullopt, 120})) << none;
    }
}

TEST(SysfsBrokenValues, UnreadableOrNegativeGiveNoValueAndLoseNothing)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeSupply(battery, {{"type", "Battery"},
                          {"status", "Discharging"},
                          {"charge_now", "abc"},
                          {"cycle_count", "-3"},
                          {"temp", "2.5"},
                          {"energy_now", "1000000"},
                          {"voltage_min_design", "0"}});
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
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity}), (Values{none, 0}))
        << "negative charge is no value";
}

TEST(SysfsDerivedRate, FromTheFallOfChargeOverTwoTicks)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeSupply(
        battery,
        {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "3000000"}, {"charge_full", "4000000"}});
    Reader reader(machine.path());
    const auto step = [&](double seconds, const char* microampHours) {
        reader.clock.advance(seconds);
        if (microampHours)
            writeSupply(battery, {{"charge_now", microampHours}});
        return reader.battery().amperage();
    };
    EXPECT_EQ(reader.battery().amperage(), none) << "one reading";
    EXPECT_EQ(step(5, "2997000"), none) << "5 s apart";
    EXPECT_EQ(step(4.9, "2995000"), -1818) << "the third tick, a little early"; // 5 mAh in 9.9 s
    EXPECT_EQ(step(15, nullptr), -1818) << "a charge not yet refreshed is no news, not 0 mA";
    EXPECT_EQ(reader.battery().timeRemaining(), 99); // 2995 mAh at 1818 mA
    EXPECT_EQ(step(-60, nullptr), none) << "clock set back: start again";
    EXPECT_EQ(step(600, "2985000"), none) << "a sleep's fall is no drain rate";
    EXPECT_EQ(step(15, "2980000"), -1200); // 5 mAh in 15 s
}

TEST(SysfsDerivedRate, AFallingVoltageIsNoDrain)
{
    // 12 W for an hour from 48 Wh at 12 V, the voltage falling 0.5 V an hour,
    // read every 5 s by firmware that gives neither current nor power.
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "sag";
    fs::copy(fixture("i-rateless-voltage-sag"), machine, fs::copy_options::recursive);
    Reader reader(machine);
    for (int seconds = 5; seconds <= 3600; seconds += 5) {
        reader.clock.advance(5);
        writeSupply(machine / "BAT0",
                    {{"energy_now", std::to_string(std::llround(48e6 - 12e6 * seconds / 3600.0)).c_str()},
                     {"voltage_now", std::to_string(std::llround(12e6 - 0.5e6 * seconds / 3600.0)).c_str()}});
        (void)reader.battery().amperage();
    }
    // 36 Wh left at 12 W: 3 hours; mAh at the 12 V the battery was found at.
    EXPECT_EQ(reader.read({Key::Amperage, Key::TimeRemaining, Key::CurrentCapacity, Key::MaxCapacity, Key::Voltage}),
              (Values{-1000, 180, 3000, 5000, 11500}));
}

TEST(SysfsDerivedRate, TwoBatteriesReadAsOne)
{
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "two";
    fs::copy(fixture("c-two-batteries"), machine, fs::copy_options::recursive);
    Reader reader(machine);
    EXPECT_EQ(reader.battery().amperage(), none);
    reader.clock.advance(18);
    writeSupply(machine / "BAT0", {{"energy_now", "47940000"}});                       // 5 mAh at 12 V
    writeSupply(machine / "BAT1", {{"energy_now", "1482000"}});                        // 1.5 mAh
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
    for (int i = 1; i < Battery::keyCount; ++i) // all but ExternalConnected
        EXPECT_FALSE(reader.registry.property(SysfsRegistry::kEntry, Battery::rawValue(Key(i))));
    fs::rename(root.path() / "parked", machine / "BAT0");
    reader.clock.advance(5);
    EXPECT_EQ(reader.battery().currentCapacity(), 2000) << "at the next tick";
    // Without the AC supply the status speaks for the charger.
    fs::remove_all(machine / "AC");
    EXPECT_EQ(reader.battery().isACPowered(), true) << "the read that finds AC gone";
    EXPECT_EQ(reader.battery().isACPowered(), true) << "after the rescan";
}

TEST(SysfsLayout, ABatteryThatAppearsAfterStartIsFoundWithinAMinute)
{
    TemporaryFolder machine;
    writeSupply(machine.path() / "AC", {{"type", "Mains"}, {"online", "0"}});
    Reader reader(machine.path());
    EXPECT_NE(reader.battery().service, 0u);
    EXPECT_EQ(reader.battery().currentCapacity(), none);
    writeBattery(machine.path() / "BAT0", "Discharging", "500000");
    reader.clock.advance(5);
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::Amperage}), (Values{2000, -500}))
        << "none yet: looked for at every tick";

    // A second one: ordinary reads do not look for it, the read a minute on does.
    writeBattery(machine.path() / "BAT1", "Discharging", "250000");
    reader.clock.advance(55);
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::Amperage}), (Values{2000, -500}));
    reader.clock.advance(5);
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::Amperage}), (Values{4000, -750}));
    // One that was out of its bay counts once it is in.
    writeSupply(machine.path() / "BAT2", {{"type", "Battery"},
                                          {"present", "0"},
                                          {"status", "Discharging"},
                                          {"charge_now", "1000000"},
                                          {"charge_full", "5000000"},
                                          {"current_now", "250000"}});
    reader.clock.advance(60);
    EXPECT_EQ(reader.battery().currentCapacity(), 4000);
    writeSupply(machine.path() / "BAT2", {{"present", "1"}});
    reader.clock.advance(60);
    EXPECT_EQ(reader.battery().currentCapacity(), 5000);
}

TEST(SysfsBrokenValues, EndlessHugeOrSilentFilesAreReadBoundedAndGiveNoValue)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeBattery(battery, "Discharging", "500000");
    fs::remove(battery / "charge_now");
    fs::create_symlink("/dev/zero", battery / "charge_now");
    // A gigabyte that starts like a value; sparse, so it costs no disk.
    std::ofstream(battery / "charge_full") << "5000000\n";
    fs::resize_file(battery / "charge_full", std::uintmax_t{1} << 30);
    // A FIFO with a writer that never writes: a blocking read would wait forever.
    fs::remove(battery / "current_now");
    ASSERT_EQ(mkfifo((battery / "current_now").c_str(), 0600), 0);
    const int writer = ::open((battery / "current_now").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    fs::remove(battery / "status");
    ASSERT_EQ(mkfifo((battery / "status").c_str(), 0600), 0); // and one without a writer

    Reader reader(machine.path());
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity, Key::Amperage, Key::ACPowered}),
              (Values{none, none, none, none}));
    ::close(writer);
    for (const char* name : {"charge_now", "charge_full", "current_now", "status"})
        fs::remove(battery / name);
    writeBattery(battery, "Discharging", "500000");
    EXPECT_EQ(reader.read({Key::CurrentCapacity, Key::MaxCapacity, Key::Amperage, Key::ACPowered}),
              (Values{2000, 5000, -500, 0}))
        << "good values read again at once";
}

} // namespace
} // namespace drainwatch
