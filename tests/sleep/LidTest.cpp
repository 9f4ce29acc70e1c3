// SPDX-License-Identifier: MIT
#include "measure/MemoryPreferenceStore.h"
#include "sleep/LidGuard.h"
#include "sleep/LidState.h"
#include "sleep/LidText.h"
#include "sleep/SleepText.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace drainwatch {
namespace {

const std::filesystem::path kProc = std::filesystem::path(DRAINWATCH_TEST_DATA) / "proc";

TEST(ProcLidReader, ReadsTheRecordedTrees)
{
    EXPECT_EQ(ProcLidReader(kProc / "open").closed(), false);
    EXPECT_EQ(ProcLidReader(kProc / "closed").closed(), true);
    EXPECT_EQ(ProcLidReader(kProc / "missing").closed(), std::nullopt);
    EXPECT_EQ(ProcLidReader(kProc / "garbled").closed(), std::nullopt);
    EXPECT_EQ(ProcLidReader(kProc / "nowhere").closed(), std::nullopt);
}

TEST(ProcLidReader, ReadsTheKeptFileAnewEachTime)
{
    test::TemporaryFolder folder;
    const auto lid = folder.path() / "acpi" / "button" / "lid" / "LID0";
    std::filesystem::create_directories(lid);
    const auto write = [&](const char* text) {
        // In place, as the kernel's file is the same file throughout.
        std::fstream file(lid / "state", std::ios::in | std::ios::out | std::ios::binary);
        if (!file)
            file.open(lid / "state", std::ios::out | std::ios::binary);
        file << text;
    };
    write("state:      open  \n");
    ProcLidReader reader(folder.path());
    EXPECT_EQ(reader.closed(), false);
    write("state:      closed\n");
    EXPECT_EQ(reader.closed(), true);
    // Found once: a lid removed after the first read is still read through the kept file.
    std::filesystem::remove_all(folder.path() / "acpi");
    EXPECT_EQ(reader.closed(), true);
}

TEST(ProcLidReader, ParsesOnlyOpenAndClosed)
{
    EXPECT_EQ(parseLidState("state:      open\n"), false);
    EXPECT_EQ(parseLidState("state:\tclosed"), true);
    for (const char* text : {"", "state:", "state:      opened\n", "open\n", "state: closed closed\n", "State: open"})
        EXPECT_EQ(parseLidState(text), std::nullopt) << text;
}

LidHolders defaults(std::vector<Inhibitor> locks = {})
{
    return LidHolders{std::move(locks), "suspend", "ignore", true};
}

TEST(LidText, TellsWhyInTheUsersWords)
{
    const Inhibitor video{"sleep:idle", "Firefox", "Playing video", "block", 1000, 10};
    const Inhibitor desktop{"handle-lid-switch", "GNOME", "Handling the lid", "block", 1000, 11};
    const Inhibitor delay{"sleep", "Drainwatch", "Saves the count", "delay", 1000, 12};
    const Inhibitor idleOnly{"idle", "Totem", "Playing", "block", 1000, 13};
    struct Case {
        const char* what;
        LidHolders holders;
        bool failed;
        std::string reason;
    };
    LidHolders ignore = defaults({video});
    ignore.handleLidSwitch = "ignore";
    LidHolders honoured = defaults({video, delay});
    honoured.ignoreInhibited = false;
    LidHolders unknownSetting = defaults({video});
    unknownSetting.ignoreInhibited.reset();
    LidHolders twoLocks = defaults({video, Inhibitor{"sleep", "", "", "block", 0, 1}});
    twoLocks.ignoreInhibited = false;
    const Case cases[] = {
        {"set to ignore, before any lock", ignore, true, "the lid switch is set to ignore"},
        {"a suspend that failed", defaults({video}), true, "suspend failed (see Sleeps)"},
        {"a sleep lock where logind ignores it", defaults({video, delay, idleOnly}), false,
         "nothing logind knows of holds it"},
        {"a sleep lock logind honours", honoured, false, "blocked by Firefox: Playing video"},
        {"a sleep lock, the setting unknown", unknownSetting, false, "blocked by Firefox: Playing video"},
        {"a desktop that handles the lid", defaults({desktop}), false, "blocked by GNOME: Handling the lid"},
        {"a desktop and a video", defaults({desktop, video}), false, "blocked by Firefox: Playing video"},
        {"two locks, one unnamed", twoLocks, false, "blocked by Firefox: Playing video, an unnamed program"},
        {"no logind", LidHolders{}, false, "logind could not be asked why"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lidAwakeReason(c.holders, c.failed), c.reason) << c.what;

    LidHolders lock = defaults();
    lock.handleLidSwitch = "lock";
    EXPECT_EQ(lidAwakeReason(lock, false), "the lid switch is set to lock");
    const Inhibitor twoLines{"sleep", "Evil\nName", "a\rb", "block", 0, 1};
    LidHolders odd = defaults({twoLines});
    odd.ignoreInhibited = false;
    EXPECT_EQ(lidAwakeReason(odd, false), "blocked by Evil Name: a b");
}

TEST(LidText, NoticeGivesTheDrainSoFar)
{
    const LidNotice notice = lidNotice("blocked by Firefox: Playing video", 1.5, 180);
    EXPECT_EQ(notice.summary, "Awake with the lid closed for 3 min");
    EXPECT_EQ(notice.body, "Blocked by Firefox: Playing video.\n1.5% of the battery used since the lid closed, "
                           "30.0% an hour.");
    // Never nan or inf, whatever comes in.
    for (const double used : {std::nan(""), std::numeric_limits<double>::infinity(), -2.0})
        EXPECT_EQ(lidNotice("x", used, 120).body.find("nan"), std::string::npos);
    EXPECT_EQ(lidNotice("x", 1, 0).body, "X.");
    EXPECT_EQ(lidNotice("x", -2.0, 120).body, "X.\n0.0% of the battery used since the lid closed.");
}

class LidGuardTest : public test::LoggedTest {
protected:
    LidGuardTest()
    {
        logInFolder();
        lid.state.closed = false;
        lid.holding = defaults();
        guard.noticed = [this](const LidNotice& notice) { notices.push_back(notice); };
    }
    // Ticks every 5 s for the given seconds, draining 0.01 % a tick.
    void run(double seconds, bool onExternalPower = false)
    {
        for (double t = 0; t < seconds; t += 5) {
            clock.advance(5);
            if (!onExternalPower)
                charge -= 0.0001;
            guard.readableTick({charge, onExternalPower, 12.0}, false, 5000);
        }
    }

    MemoryLidSource lid;
    SleepLedger ledger{nullptr};
    LidGuard guard{clock, lid, ledger};
    std::vector<LidNotice> notices;
    double charge = 0.63;
};

TEST_F(LidGuardTest, SpeaksOnceASpellAndRecordsItAtTheOpening)
{
    run(10);
    const double closedAt = clock.now() + 5;
    lid.state.closed = true;
    run(115);
    EXPECT_TRUE(notices.empty());
    run(10); // 120 s after the tick that found it closed
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "Awake with the lid closed for 2 min");
    EXPECT_NE(log().find("] Awake with the lid closed at 62.7%: nothing logind knows of holds it\n"), std::string::npos)
        << log();
    run(3600);
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_TRUE(ledger.records().empty());
    lid.state.closed = false;
    run(5);
    const auto records = ledger.records();
    ASSERT_EQ(records.size(), 1u);
    const SleepRecord& r = records[0];
    EXPECT_EQ(r.how, "lid closed");
    EXPECT_EQ(r.heldBy, "nothing logind knows of holds it");
    EXPECT_DOUBLE_EQ(r.start, closedAt);
    EXPECT_DOUBLE_EQ(r.end, clock.now());
    EXPECT_NEAR(r.usedPercentage, (r.chargeBefore - r.chargeAfter) * 100, 1e-9);
    EXPECT_NEAR(*r.usedMAh, r.usedPercentage / 100 * 5000, 1e-6);
    EXPECT_NEAR(*r.usedMWh, *r.usedMAh * 12, 1e-6);
    EXPECT_NEAR(*r.ratePerHour, r.usedPercentage / ((r.end - r.start) / 3600), 1e-9);
    EXPECT_FALSE(r.comparable());
    EXPECT_FALSE(ledger.latestWatched());
    // A new closing is a new spell.
    lid.state.closed = true;
    run(125);
    EXPECT_EQ(notices.size(), 2u);
}

TEST_F(LidGuardTest, NothingOpenedInTimeDockedOrUnknown)
{
    lid.state.closed = true;
    run(115);
    lid.state.closed = false;
    run(5);
    lid.state.closed = true;
    run(115);
    lid.state.docked = true;
    run(600);
    lid.state.docked = false;
    lid.state.closed.reset();
    run(600);
    guard.processEnding();
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(ledger.records().empty());
    EXPECT_EQ(log().find("lid"), std::string::npos);
}

TEST_F(LidGuardTest, OnTheChargerTheLidIsNotRead)
{
    lid.state.closed = true;
    run(600, true);
    EXPECT_EQ(lid.reads, 0);
    EXPECT_TRUE(notices.empty());
    run(5);
    EXPECT_EQ(lid.reads, 1);
    // The charger ends a spell the guard spoke of.
    run(125);
    ASSERT_EQ(notices.size(), 1u);
    run(5, true);
    ASSERT_EQ(ledger.records().size(), 1u);
    EXPECT_TRUE(ledger.records()[0].usedPercentage > 0);
}

TEST_F(LidGuardTest, ASleepOrTheEndOfTheProcessEndsTheSpell)
{
    lid.state.closed = true;
    run(130);
    const double noteAt = clock.now();
    guard.willSleep(charge);
    clock.suspend(3600);
    charge -= 0.01;
    guard.readableTick({charge, false, 12.0}, true, 5000);
    ASSERT_EQ(ledger.records().size(), 1u);
    EXPECT_DOUBLE_EQ(ledger.records()[0].end, noteAt);
    // Still closed after the wake: a spell of its own, kept at the quit.
    run(200);
    EXPECT_EQ(notices.size(), 2u);
    guard.processEnding();
    ASSERT_EQ(ledger.records().size(), 2u);
    EXPECT_DOUBLE_EQ(ledger.records()[1].end, clock.now());
    // An unnoticed sleep ends it at the last tick before the gap.
    run(125);
    const double lastTick = clock.now();
    clock.suspend(3600);
    guard.readableTick({charge, false, 12.0}, true, 5000);
    ASSERT_EQ(ledger.records().size(), 3u);
    EXPECT_DOUBLE_EQ(ledger.records()[2].end, lastTick);
}

TEST_F(LidGuardTest, SuspendsOnlyWhenAskedToAndOnceASpell)
{
    MemoryPreferenceStore settings;
    guard.settings = &settings;
    guard.userId = 1000;
    lid.state.closed = true;
    run(900);
    EXPECT_EQ(lid.suspends, 0) << "off unless the settings say so";
    lid.state.closed = false;
    run(5);

    settings.setInteger(1, LidGuard::kSuspendKey);
    lid.state.closed = true;
    run(300); // the first tick that finds it closed is the closing
    EXPECT_EQ(lid.suspends, 0);
    run(5); // five minutes, the default
    EXPECT_EQ(lid.suspends, 1);
    EXPECT_NE(log().find("] Drainwatch asks logind to suspend: 5 min awake with the lid closed at "),
              std::string::npos);
    lid.suspendRefusal = "Access denied";
    run(900);
    EXPECT_EQ(lid.suspends, 1);
    lid.state.closed = false;
    run(5);

    // A refusal is said; a lock of another user's does not hold it, the user's own does.
    lid.holding.inhibitors->push_back(Inhibitor{"sleep", "gdm", "Login screen", "block", 120, 7});
    lid.state.closed = true;
    run(305);
    EXPECT_EQ(lid.suspends, 2);
    EXPECT_NE(log().find("] logind did not suspend: Access denied\n"), std::string::npos) << log();
    lid.state.closed = false;
    run(5);
    lid.holding.inhibitors->push_back(Inhibitor{"sleep:idle", "Zoom\nCall", "In a meeting", "block", 1000, 8});
    lid.state.closed = true;
    run(900);
    EXPECT_EQ(lid.suspends, 2);
    EXPECT_NE(log().find("] Not suspending after 5 min with the lid closed: Zoom Call holds sleep\n"),
              std::string::npos)
        << log();
}

TEST(LidText, SleepsTableListsTheSpellsApart)
{
    const SleepRecord spell = lidClosedRecord(1800000000, 1800001800, 0.63, 0.60, 12.0, 5000);
    SleepRecord night = lidClosedRecord(1800010000, 1800038800, 0.60, 0.56, 12.0, 5000);
    night.how = "suspend";
    night.asleepSeconds = 28800;
    night.mode = "deep";
    night.ratePerHour = 0.5;
    const std::string table = sleepTable({spell, night}, "/nonexistent");
    const auto apart = table.find("Awake with the lid closed:\n");
    ASSERT_NE(apart, std::string::npos) << table;
    EXPECT_NE(table.find("30 min", apart), std::string::npos) << table;
    EXPECT_NE(table.find("lid closed", apart + 27), std::string::npos) << table;
    // The summary counts the one sleep.
    EXPECT_NE(table.find("deep           1"), std::string::npos) << table;
    EXPECT_EQ(table.find("unknown"), std::string::npos) << table;
    EXPECT_EQ(sleepSeconds(spell), 1800);
}

} // namespace
} // namespace drainwatch
