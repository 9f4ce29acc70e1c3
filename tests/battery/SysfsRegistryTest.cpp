#include "battery/BatteryListener.h"
#include "battery/SysfsRegistry.h"
#include "support/Fakes.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <utility>

#include <sys/stat.h>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;
using test::FakeClock;
using test::TemporaryFolder;

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
    writeSupply(folder, {{"type", "Battery"}, {"status", status}, {"charge_now", "2000000"}, {"charge_full", "5000000"}});
    if (currentNow)
        writeSupply(folder, {{"current_now", currentNow}});
}

struct Reader {
    explicit Reader(const fs::path& folder) : registry(folder, clock), listener(registry) {}
    const Battery& battery() const { return listener.batt; }
    FakeClock clock;
    SysfsRegistry registry;
    BatteryListener listener;
};

TEST(SysfsFixtures, EnergyBatteryConvertsWithItsDesignVoltage)
{
    Reader reader(fixture("b-thinkpad-energy-discharging"));
    const Battery& battery = reader.battery();
    // µWh / voltage_min_design (10.8 V), not voltage_now (11.66 V): 36.58 Wh -> 3387.04 mAh.
    EXPECT_EQ(battery.currentCapacity(), 3387);
    EXPECT_EQ(battery.maxCapactiy(), 4173);
    EXPECT_EQ(battery.designCapacity(), 4400);
    EXPECT_EQ(battery.amperage(), -463); // power_now 5.002 W / 10.8 V
    EXPECT_EQ(battery.timeRemaining(), 439); // 3387.04 mAh / 463.15 mA
    EXPECT_EQ(battery.voltage(), 11660);
    EXPECT_FALSE(battery.cycleCount().has_value()) << "cycle_count 0 is the kernel's unknown";
    EXPECT_EQ(battery.isACPowered(), false);
    EXPECT_EQ(battery.isCharging(), false);
}

TEST(SysfsFixtures, ChargingOverUsbCCountsThePortAsLinePower)
{
    {
        Reader reader(fixture("d-usbc-ucsi-charging"));
        const Battery& battery = reader.battery();
        EXPECT_EQ(battery.amperage(), 2000);
        EXPECT_EQ(reader.listener.amperage(), -2000.0);
        EXPECT_EQ(battery.currentCapacity(), 3587);
        EXPECT_EQ(battery.maxCapactiy(), 5978);
        EXPECT_EQ(battery.designCapacity(), 6842);
        EXPECT_EQ(battery.timeRemaining(), 72); // to full: 2391 mAh at 2000 mA
        EXPECT_EQ(battery.isCharging(), true);
        EXPECT_EQ(battery.isCharged(), false);
        EXPECT_EQ(battery.isACPowered(), true);
    }
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

TEST(SysfsFixtures, PeripheralBatteriesAreNotTheMachines)
{
    Reader reader(fixture("e-laptop-plus-hid-mouse"));
    const Battery& battery = reader.battery();
    // BAT0 alone (48 Wh / 12 V); the mouse has no charge to add and must not spoil the sum.
    EXPECT_EQ(battery.currentCapacity(), 4000);
    EXPECT_EQ(battery.maxCapactiy(), 5000);
    EXPECT_EQ(battery.designCapacity(), 6667);
    EXPECT_EQ(battery.isACPowered(), false);
    EXPECT_FALSE(battery.amperage().has_value()) << "no rate in sysfs and only one reading";
}

TEST(SysfsFixtures, ThresholdHoldAndSignedCurrent)
{
    Reader held(fixture("g-not-charging-threshold"));
    EXPECT_EQ(held.battery().isACPowered(), true);
    EXPECT_EQ(held.battery().amperage(), 0);
    EXPECT_FALSE(held.battery().timeRemaining().has_value());
    EXPECT_EQ(held.battery().isCharging(), false);

    Reader negative(fixture("h-negative-current-discharging"));
    EXPECT_EQ(negative.battery().amperage(), -787);
    EXPECT_EQ(negative.listener.amperage(), 787.0);
    EXPECT_EQ(negative.battery().timeRemaining(), 600); // 7875 mAh at 787 mA: 600.4 min
    EXPECT_DOUBLE_EQ(*negative.listener.chargePercentage(), 0.75);
    EXPECT_EQ(negative.battery().isACPowered(), false);
}

TEST(SysfsFixtures, NoBatteryGivesNoServiceAndNoValues)
{
    TemporaryFolder empty;
    for (const fs::path& folder : {fixture("f-desktop-mains-only"), empty.path(), empty.path() / "missing"}) {
        SCOPED_TRACE(folder.string());
        Reader reader(folder);
        EXPECT_EQ(reader.battery().service, 0u);
        EXPECT_EQ(reader.registry.matchingService("AppleSmartBattery"), 0u);
        for (int i = 0; i < Battery::keyCount; ++i)
            EXPECT_FALSE(reader.registry.property(SysfsRegistry::kEntry, Battery::rawValue(Battery::Key(i))));
        EXPECT_FALSE(reader.listener.isCharging().has_value());
        EXPECT_FALSE(reader.listener.chargePercentage().has_value());
    }
}

TEST(SysfsRegistryHandles, ServiceNameDefaultFolderAndRelease)
{
    FakeClock clock;
    SysfsRegistry registry(fixture("a-acpi-charge-discharging"), clock);
    EXPECT_EQ(registry.matchingService("AppleSmartBatteryX"), 0u);
    const RegistryHandle handle = registry.matchingService("AppleSmartBattery");
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(registry.property(handle, "CurrentCapacity2"));
    EXPECT_FALSE(registry.property(0, "CurrentCapacity"));
    EXPECT_EQ(registry.release(handle), kIOReturnSuccess);
    EXPECT_FALSE(registry.property(handle, "CurrentCapacity")) << "a released handle reads nothing";
    EXPECT_NE(registry.release(handle), kIOReturnSuccess);

    const char* saved = std::getenv("DRAINWATCH_POWER_SUPPLY_DIR");
    const std::string previous = saved ? saved : "";
    setenv("DRAINWATCH_POWER_SUPPLY_DIR", "/tmp/elsewhere", 1);
    EXPECT_EQ(SysfsRegistry::defaultFolder(), fs::path("/tmp/elsewhere"));
    unsetenv("DRAINWATCH_POWER_SUPPLY_DIR");
    EXPECT_EQ(SysfsRegistry::defaultFolder(), fs::path("/sys/class/power_supply"));
    if (saved)
        setenv("DRAINWATCH_POWER_SUPPLY_DIR", previous.c_str(), 1);
}

TEST(SysfsStatus, DirectionAndExternalPowerFollowTheStatus)
{
    struct Case {
        const char* status;
        const char* mainsOnline; // nullptr: the machine has no Mains or USB supply
        const char* currentNow;
        std::int64_t amperage;
        bool external;
        bool charging;
        bool full;
        std::optional<std::int64_t> minutes; // 2000 of 5000 mAh
    };
    const Case cases[] = {
        {"Discharging", nullptr, "500000", -500, false, false, false, 240},
        {"Charging", nullptr, "500000", 500, true, true, false, 360},
        {"Full", nullptr, "500000", 0, true, false, true, std::nullopt},
        {"Not charging", nullptr, "500000", 0, true, false, false, std::nullopt},
        {"Unknown", nullptr, "500000", -500, false, false, false, 240},
        {"Unknown", "2", "500000", 500, true, false, false, 360},
        {"Charging", "0", "-500000", -500, false, true, false, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fmt::format("{} online {}", c.status, c.mainsOnline ? c.mainsOnline : "-"));
        TemporaryFolder machine;
        writeBattery(machine.path() / "BAT0", c.status, c.currentNow);
        if (c.mainsOnline)
            writeSupply(machine.path() / "ADP1", {{"type", "Mains"}, {"online", c.mainsOnline}});
        Reader reader(machine.path());
        const Battery& battery = reader.battery();
        EXPECT_EQ(battery.amperage(), c.amperage);
        EXPECT_EQ(battery.isACPowered(), c.external);
        EXPECT_EQ(battery.isCharging(), c.charging);
        EXPECT_EQ(battery.isCharged(), c.full);
        EXPECT_EQ(battery.timeRemaining(), c.minutes);
    }
}

TEST(SysfsValues, KernelTimeTemperatureAndCycles)
{
    TemporaryFolder machine;
    writeBattery(machine.path() / "BAT0", "Discharging", "500000");
    writeSupply(machine.path() / "BAT0", {{"time_to_empty_now", "5400"}, {"time_to_full_now", "60"}, {"temp", "305"},
                                          {"cycle_count", "42"}, {"voltage_now", "12345678"}});
    Reader reader(machine.path());
    const Battery& battery = reader.battery();
    EXPECT_EQ(battery.timeRemaining(), 90) << "the kernel's own estimate wins over 240 computed";
    EXPECT_EQ(battery.real(Battery::Key::Temperature), 3050.0);
    EXPECT_EQ(battery.temperature(), 31.0); // 30.5 °C rounded up
    EXPECT_EQ(battery.cycleCount(), 42);
    EXPECT_EQ(battery.voltage(), 12346);
}

TEST(SysfsBrokenValues, UnreadableFilesGiveNoValueAndLoseNothing)
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
    const Battery& read = reader.battery();
    ASSERT_NE(read.service, 0u);
    EXPECT_FALSE(read.currentCapacity().has_value());
    EXPECT_FALSE(read.maxCapactiy().has_value());
    EXPECT_FALSE(read.designCapacity().has_value());
    EXPECT_FALSE(read.amperage().has_value());
    EXPECT_FALSE(read.cycleCount().has_value());
    EXPECT_FALSE(read.temperature().has_value());
    EXPECT_FALSE(read.voltage().has_value());
    EXPECT_FALSE(read.timeRemaining().has_value());
    EXPECT_FALSE(read.designCycleCount().has_value());
    EXPECT_EQ(read.isACPowered(), false) << "from the status, which still reads";

    // A value that reads again is taken at once.
    writeSupply(battery, {{"charge_now", "2500000"}});
    EXPECT_EQ(read.currentCapacity(), 2500);
}

TEST(SysfsBrokenValues, AbsurdAndZeroCapacitiesNeverReachTheMonitorAsNumbers)
{
    TemporaryFolder machine;
    writeSupply(machine.path() / "BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "-5000"},
                                          {"charge_full", "0"}, {"charge_full_design", "0"}, {"current_now", "1000"}});
    Reader reader(machine.path());
    EXPECT_FALSE(reader.battery().currentCapacity().has_value()) << "negative charge";
    EXPECT_EQ(reader.battery().maxCapactiy(), 0);
    EXPECT_FALSE(reader.listener.chargePercentage().has_value());
    EXPECT_FALSE(reader.listener.healthPercentage().has_value());
    writeSupply(machine.path() / "BAT0", {{"charge_now", "0"}});
    EXPECT_EQ(reader.battery().currentCapacity(), 0);
    EXPECT_FALSE(reader.listener.chargePercentage().has_value()) << "0 of 0";
}

TEST(SysfsLayout, FollowsLinkedSupplyFoldersAndSkipsWhatIsNotTheMachines)
{
    TemporaryFolder root;
    const fs::path devices = root.path() / "devices";
    const fs::path classFolder = root.path() / "class";
    writeBattery(devices / "BAT0", "Discharging", "400000");
    fs::create_directories(classFolder);
    fs::create_directory_symlink(devices / "BAT0", classFolder / "BAT0");
    writeSupply(classFolder / "BAT1", {{"type", "Battery"}, {"present", "0"}, {"charge_now", "1000000"}});
    writeSupply(classFolder / "hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"charge_now", "1000000"}});
    writeSupply(classFolder / "dock-usb", {{"type", "USB"}, {"scope", "Device"}, {"online", "1"}});
    std::ofstream(classFolder / "stray") << "Battery\n";

    Reader reader(classFolder);
    EXPECT_EQ(reader.battery().currentCapacity(), 2000);
    EXPECT_EQ(reader.battery().amperage(), -400);
    EXPECT_EQ(reader.battery().isACPowered(), false);
}

TEST(SysfsDerivedRate, FromTheFallOfChargeOverFifteenSeconds)
{
    TemporaryFolder machine;
    const fs::path battery = machine.path() / "BAT0";
    writeSupply(battery, {{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "3000000"}, {"charge_full", "4000000"}});
    Reader reader(machine.path());
    const auto setCharge = [&](const char* microampHours) { writeSupply(battery, {{"charge_now", microampHours}}); };

    EXPECT_FALSE(reader.battery().amperage().has_value()) << "one reading";
    reader.clock.advance(10);
    setCharge("2995000");
    EXPECT_FALSE(reader.battery().amperage().has_value()) << "10 s apart";
    reader.clock.advance(8);
    setCharge("2990000");
    EXPECT_EQ(reader.battery().amperage(), -2000); // 10 mAh in 18 s
    EXPECT_EQ(reader.listener.amperage(), 2000.0);
    reader.clock.advance(15);
    EXPECT_EQ(reader.battery().amperage(), -2000) << "a charge not yet refreshed is no news, not 0 mA";
    EXPECT_EQ(reader.battery().timeRemaining(), 90); // 2990 mAh at 2000 mA

    reader.clock.advance(-60);
    EXPECT_FALSE(reader.battery().amperage().has_value()) << "clock set back: start again";
    reader.clock.advance(600);
    setCharge("2980000");
    EXPECT_FALSE(reader.battery().amperage().has_value()) << "a sleep's fall is no drain rate";
    reader.clock.advance(15);
    setCharge("2975000");
    EXPECT_EQ(reader.battery().amperage(), -1200); // 5 mAh in 15 s
}

TEST(SysfsDerivedRate, TwoBatteriesReadAsOne)
{
    TemporaryFolder scratch;
    const fs::path machine = scratch.path() / "two";
    fs::copy(fixture("c-two-batteries"), machine, fs::copy_options::recursive);
    Reader reader(machine);
    EXPECT_DOUBLE_EQ(*reader.listener.chargePercentage(), 0.4125); // (48 + 1.5) Wh of (60 + 60)
    EXPECT_FALSE(reader.battery().amperage().has_value());
    reader.clock.advance(18);
    writeSupply(machine / "BAT0", {{"energy_now", "47940000"}}); // 5 mAh at 12 V
    writeSupply(machine / "BAT1", {{"energy_now", "1482000"}});  // 1.5 mAh
    EXPECT_EQ(reader.battery().amperage(), -1300);
    EXPECT_EQ(reader.battery().timeRemaining(), 190); // 4118.5 mAh at 1300 mA
}

TEST(SysfsLifecycle, SupplyThatGoesAwayIsFoundAgain)
{
    TemporaryFolder root;
    const fs::path machine = root.path() / "power_supply";
    writeBattery(machine / "BAT0", "Charging", "500000");
    writeSupply(machine / "AC", {{"type", "Mains"}, {"online", "0"}});
    Reader reader(machine);
    const Battery& battery = reader.battery();
    EXPECT_EQ(battery.currentCapacity(), 2000);
    EXPECT_EQ(battery.isACPowered(), false);

    fs::rename(machine / "BAT0", root.path() / "parked");
    EXPECT_FALSE(battery.currentCapacity().has_value());
    for (int i = 0; i < Battery::keyCount; ++i)
        EXPECT_FALSE(reader.registry.property(battery.service, Battery::rawValue(Battery::Key(i))));
    fs::rename(root.path() / "parked", machine / "BAT0");
    EXPECT_EQ(battery.currentCapacity(), 2000);
    EXPECT_EQ(battery.amperage(), 500);

    // Without the AC supply the status speaks for the charger.
    fs::remove_all(machine / "AC");
    EXPECT_EQ(battery.isACPowered(), true) << "the read that finds AC gone";
    EXPECT_EQ(battery.isACPowered(), true) << "after the rescan";
}

} // namespace
} // namespace drainwatch
