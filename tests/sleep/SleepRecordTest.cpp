// SPDX-License-Identifier: MIT
#include "sleep/SleepRecord.h"

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

SystemSnapshot stats(std::int64_t successes, std::int64_t failures, std::int64_t lpitUs)
{
    SystemSnapshot s;
    s.mode = "s2idle";
    s.successes = successes;
    s.failures = failures;
    s.lpitResidencyUs = lpitUs;
    s.wakeupEvents = std::map<std::string, std::int64_t>{};
    return s;
}

// Eight hours asleep on battery, 80 % to 76 % of 5000 mAh at 12 V and 11.8 V.
struct Night {
    SleepSide before{1800000000, 100, 0.80, false, 12.0, stats(10, 0, 0), {}};
    SleepSide after{1800028800, 100 + 28800, 0.76, false, 11.8, stats(11, 0, 28000'000'000), {}};
    SleepRecord build(SleepHow how = SleepHow::Suspend) const { return buildSleepRecord(how, before, after, 5000); }
};

TEST(SleepRecord, MeasuresASleepOnBattery)
{
    const SleepRecord r = Night().build();
    EXPECT_EQ(r.how, "suspend");
    EXPECT_EQ(r.start, 1800000000);
    EXPECT_EQ(r.end, 1800028800);
    EXPECT_EQ(r.asleepSeconds, 28800);
    EXPECT_EQ(r.mode, "s2idle");
    EXPECT_TRUE(r.onBattery);
    EXPECT_NEAR(r.usedPercentage, 4, 1e-9);
    EXPECT_NEAR(*r.usedMAh, 200, 1e-9);
    EXPECT_NEAR(*r.usedMWh, 200 * 11.9, 1e-9);
    EXPECT_NEAR(*r.ratePerHour, 0.5, 1e-9);
    EXPECT_NEAR(*r.milliwatts, 200 * 11.9 / 8, 1e-9);
    EXPECT_NEAR(*r.hardwareSleep, 28000.0 / 28800, 1e-12);
    EXPECT_EQ(r.cycles, 1);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(r.failedDevice, std::nullopt);
    EXPECT_TRUE(r.flags.empty());
    EXPECT_TRUE(r.comparable());
}

TEST(SleepRecord, FlagsComeInTheirOrder)
{
    Night night;
    night.after.onExternalPower = true;
    night.after.snapshot->failures = 2;
    night.after.snapshot->lastFailedDevice = "0000:00:14.0";
    night.before.snapshot->stepFailures = {{"suspend", 0}};
    night.after.snapshot->stepFailures = {{"suspend", 2}};
    night.after.snapshot->successes = 14;
    night.after.snapshot->lpitResidencyUs = 10000'000'000;
    const SleepRecord r = night.build();
    EXPECT_EQ(r.flags, (std::vector<std::string>{"charged", "failed", "restless", "shallow"}));
    EXPECT_EQ(r.failedDevice, "0000:00:14.0");
    EXPECT_EQ(r.cycles, 4);
    // On the charger: no rate, and not one to compare with.
    EXPECT_FALSE(r.ratePerHour);
    EXPECT_FALSE(r.milliwatts);
    EXPECT_FALSE(r.comparable());

    // A charge that rose on battery is charged too.
    Night risen;
    risen.after.charge = 0.81;
    EXPECT_EQ(risen.build().flags, std::vector<std::string>{"charged"});
    EXPECT_FALSE(risen.build().ratePerHour);
}

TEST(SleepRecord, NotRunningKnowsOnlyTheStoreAndTheWallClock)
{
    Night night;
    night.before = SleepSide{1800000000, std::nullopt, 0.80, std::nullopt, std::nullopt, std::nullopt, {}};
    night.after.suspendedSeconds = 5;
    const SleepRecord r = night.build(SleepHow::NotRunning);
    EXPECT_EQ(r.how, "not running");
    EXPECT_EQ(r.asleepSeconds, std::nullopt);
    EXPECT_EQ(r.mode, std::nullopt);
    // The hours come from the wall clock; the volts from A alone.
    EXPECT_NEAR(*r.ratePerHour, 0.5, 1e-9);
    EXPECT_NEAR(*r.usedMWh, 200 * 11.8, 1e-9);
    EXPECT_EQ(r.hardwareSleep, std::nullopt);
    EXPECT_EQ(r.cycles, std::nullopt);
    EXPECT_EQ(r.failed, std::nullopt);
    EXPECT_EQ(r.wokenBy, std::nullopt);
    EXPECT_EQ(r.flags, std::vector<std::string>{"not running"});
    EXPECT_FALSE(r.comparable());
}

TEST(SleepRecord, UnknownStaysUnknown)
{
    struct Case {
        const char* what;
        void (*change)(Night&);
        bool rate, hardwareSleep, cycles, mwh;
    };
    const Case cases[] = {
        {"59 s asleep: too short for a rate (and the hardware slept longer)",
         [](Night& n) {
             n.after.suspendedSeconds = 100 + 59.0;
             n.after.wallTime = n.before.wallTime + 59;
         },
         false, false, true, true},
        {"under a second asleep",
         [](Night& n) {
             n.after.suspendedSeconds = 100.5;
             n.after.wallTime = n.before.wallTime + 0.5;
         },
         false, false, true, true},
        {"more hardware sleep than sleep", [](Night& n) { n.after.snapshot->lpitResidencyUs = 30000'000'000; }, true,
         false, true, true},
        {"counters that fell: a reboot, or LPIT's wrap",
         [](Night& n) {
             n.after.snapshot->successes = 1;
             n.after.snapshot->lpitResidencyUs = 0;
             n.before.snapshot->lpitResidencyUs = 5;
         },
         true, false, false, true},
        {"no snapshot before", [](Night& n) { n.before.snapshot.reset(); }, true, false, false, true},
        {"no voltage at all",
         [](Night& n) {
             n.before.volts.reset();
             n.after.volts.reset();
         },
         true, true, true, false},
    };
    for (const Case& c : cases) {
        Night night;
        c.change(night);
        const SleepRecord r = night.build();
        EXPECT_EQ(r.ratePerHour.has_value(), c.rate) << c.what;
        EXPECT_EQ(r.hardwareSleep.has_value(), c.hardwareSleep) << c.what;
        EXPECT_EQ(r.cycles.has_value(), c.cycles) << c.what;
        EXPECT_EQ(r.usedMWh.has_value(), c.mwh) << c.what;
        EXPECT_EQ(r.milliwatts.has_value(), c.mwh && c.rate) << c.what;
    }
    // Without a capacity nothing is in mAh or mWh, and the rate still is.
    const SleepRecord noCapacity = buildSleepRecord(SleepHow::Suspend, Night().before, Night().after, 0);
    EXPECT_FALSE(noCapacity.usedMAh);
    EXPECT_FALSE(noCapacity.milliwatts);
    EXPECT_TRUE(noCapacity.ratePerHour);
}

// total_hw_sleep rising by risenUs over a single cycle of so many hours, and no LPIT.
void pmcOnly(Night& n, std::int64_t risenUs, double hours)
{
    for (SleepSide* side : {&n.before, &n.after}) {
        side->snapshot->lpitResidencyUs.reset();
        side->snapshot->maxHardwareSleepUs = 36000'000'000;
    }
    n.before.snapshot->hardwareSleepUs = 5000'000'000;
    n.after.snapshot->hardwareSleepUs = 5000'000'000 + risenUs;
    n.after.suspendedSeconds = 100 + hours * 3600;
    n.after.wallTime = n.before.wallTime + hours * 3600;
}

TEST(SleepRecord, HardwareSleepIsAskedOfS2idleAloneAndOfCountersThatCount)
{
    struct Case {
        const char* what;
        void (*change)(Night&);
        std::optional<std::string> mode;
        std::optional<double> hardwareSleep;
    };
    const Case cases[] = {
        {"an ordinary s2idle night: LPIT's share", [](Night&) {}, "s2idle", 28000.0 / 28800},
        {"deep sleep with the counters there: S3 never counts them",
         [](Night& n) {
             n.before.snapshot->mode = n.after.snapshot->mode = "deep";
             n.before.snapshot->hardwareSleepUs = n.after.snapshot->hardwareSleepUs = 5000'000'000;
             n.after.snapshot->lpitResidencyUs = n.before.snapshot->lpitResidencyUs;
         },
         "deep", std::nullopt},
        {"LPIT outranks a total_hw_sleep no driver feeds",
         [](Night& n) {
             n.before.snapshot->hardwareSleepUs = n.after.snapshot->hardwareSleepUs = 0;
             n.before.snapshot->maxHardwareSleepUs = n.after.snapshot->maxHardwareSleepUs = 0;
             n.after.snapshot->lpitResidencyUs = 0.986 * 28800'000'000;
         },
         "s2idle", 0.986},
        {"total_hw_sleep of an hour's cycle", [](Night& n) { pmcOnly(n, 3240'000'000, 1); }, "s2idle", 0.9},
        {"total_hw_sleep of an 8 h cycle the driver added modulo 2^32 µs",
         [](Night& n) { pmcOnly(n, 28800'000'000 % 4294967296, 8); }, "s2idle", std::nullopt},
        {"total_hw_sleep while max_hw_sleep is 0: no driver",
         [](Night& n) {
             pmcOnly(n, 0, 1);
             n.after.snapshot->maxHardwareSleepUs = 0;
         },
         "s2idle", std::nullopt},
        {"mem_sleep changed meanwhile", [](Night& n) { n.after.snapshot->mode = "deep"; }, std::nullopt, std::nullopt},
        {"hibernation possible after a suspend cycle, and no kernel log: cannot be told",
         [](Night& n) { n.after.snapshot->canHibernate = true; }, std::nullopt, std::nullopt},
        {"hibernation possible and no suspend cycle: a hibernation",
         [](Night& n) {
             n.after.snapshot->canHibernate = true;
             n.after.snapshot->successes = 10;
         },
         "hibernate", std::nullopt},
        {"the kernel logged a suspend then a hibernation",
         [](Night& n) {
             n.after.snapshot->canHibernate = true;
             n.after.sleepEntries = {"s2idle", "hibernate"};
         },
         "suspend-then-hibernate", std::nullopt},
        {"the kernel's log outranks mem_sleep", [](Night& n) { n.after.sleepEntries = {"deep"}; }, "deep",
         std::nullopt},
    };
    for (const Case& c : cases) {
        Night night;
        c.change(night);
        const SleepRecord r = night.build();
        EXPECT_EQ(r.mode, c.mode) << c.what;
        ASSERT_EQ(r.hardwareSleep.has_value(), c.hardwareSleep.has_value()) << c.what;
        if (c.hardwareSleep) {
            EXPECT_NEAR(*r.hardwareSleep, *c.hardwareSleep, 1e-9) << c.what;
        }
        EXPECT_FALSE(r.hasFlag("shallow")) << c.what;
    }
}

TEST(SleepRecord, WokenByTheInterruptThenTheEventsOfTheSleepItself)
{
    Night night;
    night.before.snapshot->wakeupEvents =
        std::map<std::string, std::int64_t>{{"LID", 1}, {"XHC", 3}, {"EC", 0}, {"AC", 7}, {"PWRB", 2}};
    night.after.snapshot->wakeupEvents =
        std::map<std::string, std::int64_t>{{"LID", 2}, {"XHC", 6}, {"EC", 3}, {"AC", 7}, {"PWRB", 3}, {"NEW", 9}};
    // Ties by name; no rise, and a source that was not there before, never.
    EXPECT_EQ(night.build().wokenBy, (std::vector<std::string>{"EC", "XHC", "LID"}));
    night.after.snapshot->wakeupIrq = 9;
    night.after.snapshot->wakeupIrqActions = "acpi";
    EXPECT_EQ(night.build().wokenBy, (std::vector<std::string>{"acpi", "EC", "XHC"}));
    // Without its handlers' names the interrupt is its number.
    night.after.snapshot->wakeupIrqActions.reset();
    EXPECT_EQ(night.build().wokenBy->front(), "irq 9");
    // Only a will-sleep note parts the sleep's events from the awake ones.
    EXPECT_EQ(night.build(SleepHow::Unnoticed).wokenBy, std::nullopt);
    // A failed suspend's interrupt is an older sleep's.
    night.after.snapshot->successes = 10;
    EXPECT_EQ(night.build().wokenBy->front(), "EC");
    // No wakeup folder and no pm_wakeup_irq: unknown, not none.
    night.after.snapshot->wakeupEvents.reset();
    night.after.snapshot->wakeupIrq.reset();
    EXPECT_EQ(night.build().wokenBy, std::nullopt);
    night.after.snapshot->wakeupIrq = 0;
    EXPECT_EQ(night.build().wokenBy, std::vector<std::string>{});
}

TEST(SleepRecord, AFailedDeviceIsNamedOnlyAfterADeviceStepFailed)
{
    Night night;
    night.after.snapshot->failures = 1;
    night.after.snapshot->lastFailedDevice = "0000:00:14.0"; // an older failure's
    night.before.snapshot->stepFailures = {{"freeze", 1}, {"suspend", 1}};
    night.after.snapshot->stepFailures = {{"freeze", 2}, {"suspend", 1}};
    SleepRecord r = night.build();
    EXPECT_EQ(r.failedStep, "freeze");
    EXPECT_EQ(r.failedDevice, std::nullopt);
    night.after.snapshot->stepFailures = {{"freeze", 2}, {"suspend", 1}, {"suspend_noirq", 1}};
    night.before.snapshot->stepFailures["suspend_noirq"] = 0;
    r = night.build();
    EXPECT_EQ(r.failedStep, "suspend_noirq");
    EXPECT_EQ(r.failedDevice, "0000:00:14.0");
    // No counters: neither is known.
    night.before.snapshot->stepFailures.clear();
    night.after.snapshot->stepFailures.clear();
    r = night.build();
    EXPECT_EQ(r.failedStep, std::nullopt);
    EXPECT_EQ(r.failedDevice, std::nullopt);
    EXPECT_TRUE(r.hasFlag("failed"));
}

TEST(SleepRecord, ASuspendedClockThatStoodStillGivesWayToTheWallClock)
{
    Night night;
    night.after.suspendedSeconds = 100 + 2.0;
    EXPECT_EQ(night.build().asleepSeconds, 28800);
    EXPECT_NEAR(*night.build().ratePerHour, 0.5, 1e-9);
    // Without a suspend the kernel counted, the wall clock may have been set.
    night.after.snapshot->successes = 10;
    EXPECT_EQ(night.build().asleepSeconds, 2);
}

TEST(SleepRecord, HighDrainAgainstTheOwnersHistory)
{
    const auto judged = [](double rate, const std::vector<double>& earlier, bool comparable = true) {
        Night night;
        night.after.charge = 0.80 - rate * 8 / 100;
        if (!comparable) {
            night.after.suspendedSeconds = 100 + 1799.0;
            night.after.wallTime = night.before.wallTime + 1799;
        }
        SleepRecord r = night.build();
        judgeDrain(r, earlier);
        return r.hasFlag("high drain");
    };
    // Fewer than three earlier: above 1.5 %/h.
    EXPECT_FALSE(judged(1.4, {}));
    EXPECT_TRUE(judged(1.6, {1.0, 1.0}));
    // Three or more: above twice their median and above 0.5 %/h.
    EXPECT_TRUE(judged(1.0, {0.4, 0.45, 0.3}));
    EXPECT_FALSE(judged(0.75, {0.4, 0.45, 0.3}));
    EXPECT_FALSE(judged(0.45, {0.1, 0.2, 0.2, 0.1}));
    EXPECT_FALSE(judged(1.9, {1.0, 1.0, 1.0}));
    // Only the latest ten count: the eleventh (oldest) would lower the median.
    EXPECT_FALSE(judged(1.5, {1, 1, 1, 1, 1, 1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}));
    EXPECT_TRUE(judged(1.5, {0.1, 0.1, 0.1, 0.1, 0.1, 1, 1, 1, 1, 1, 1, 1}));
    // A sleep under half an hour is never judged.
    EXPECT_FALSE(judged(5.0, {}, false));
    // Twice the median exactly is not above it, whatever the rounding.
    Night night;
    night.after.charge = 0.80 - 0.096;
    SleepRecord exactlyTwice = night.build();
    judgeDrain(exactlyTwice, {0.7, 0.5999999999999992, 0.5});
    EXPECT_FALSE(exactlyTwice.hasFlag("high drain")) << *exactlyTwice.ratePerHour;
}

TEST(SleepRecord, MedianAndJson)
{
    EXPECT_EQ(median({}), std::nullopt);
    EXPECT_EQ(median({3, 1, 2}), 2);
    EXPECT_EQ(median({4, 1, 3, 2}), 2.5);

    SleepRecord r;
    r.how = "unnoticed";
    r.start = 1800000000;
    r.end = 1800000090.5;
    r.chargeBefore = 0.5;
    r.chargeAfter = 0.25;
    r.usedPercentage = 25;
    r.ratePerHour = std::numeric_limits<double>::quiet_NaN();
    r.cycles = 2;
    r.failedDevice = "dev \"x\"";
    r.failedStep = "suspend";
    r.wokenBy = std::vector<std::string>{"LID", "AC"};
    r.flags = {"restless"};
    EXPECT_EQ(sleepRecordJson(r),
              "{\"how\":\"unnoticed\",\"start\":1800000000,\"end\":1800000090.5,\"asleepSeconds\":null,\"mode\":null,"
              "\"onBattery\":false,\"chargeBefore\":0.5,\"chargeAfter\":0.25,\"usedPercentage\":25,\"usedMAh\":null,"
              "\"usedMWh\":null,\"ratePerHour\":null,\"milliwatts\":null,\"hardwareSleep\":null,\"cycles\":2,"
              "\"failed\":null,\"failedDevice\":\"dev "
              "\\\"x\\\"\",\"failedStep\":\"suspend\",\"wokenBy\":[\"LID\",\"AC\"],\"flags\":[\"restless\"]}");
}

} // namespace
} // namespace drainwatch
