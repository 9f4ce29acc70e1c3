// SPDX-License-Identifier: MIT
#include "sim/Simulator.h"
#include "log/Logger.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <sstream>

namespace drainwatch::sim {
namespace {

// 80 % of 5000 mAh, discharging at 1000 mA.
const std::string kBattery = "battery DesignCapacity=5000 MaxCapacity=5000 CurrentCapacity=4000 Amperage=-1000 "
                             "Voltage=12000 ExternalConnected=false\n";

// Runs a scenario; returns the error message, empty when it ran to the end.
std::string runScenario(const std::string& text, std::string* output = nullptr)
{
    std::ostringstream out;
    Simulator simulator(out);
    test::TemporaryFolder folder;
    Logger::installMain(std::make_unique<Logger>(folder.path() / "log", simulator.clock(), false));
    std::istringstream in(text);
    std::string error;
    try {
        simulator.run(in);
    } catch (const ScenarioError& e) {
        error = e.what();
    }
    Logger::installMain(nullptr);
    if (output)
        *output = out.str();
    return error;
}

TEST(Simulator, StopsAtTheFirstBadLineNamingIt)
{
    const std::string battery = "battery CurrentCapacity=1 MaxCapacity=2\n";
    struct Case {
        std::string scenario;
        std::string error;
    };
    const Case cases[] = {
        {"# comment\n\nprint\n", "line 3: 'print' needs a running process"},
        {"launch\nlaunch\n", "line 2: a process runs already"},
        {"launch\nstart 5\n", "line 2: 'start' comes before the first 'launch'"},
        {"jump 5\n", "line 1: unknown command 'jump'"},
        {"advance\n", "line 1: 'advance' takes 1 word(s) after it, not 0"},
        {"launch\nprint now\n", "line 2: 'print' takes 0 word(s) after it, not 1"},
        {"advance 1.5s\n", "line 1: malformed number '1.5s'"},
        {"advance -1\n", "line 1: negative time '-1'"},
        {"battery Charge=5\n", "line 1: 'Charge' is not a battery key"},
        {"battery DesignCycleCount=5\n", "line 1: 'DesignCycleCount' is not a battery key"},
        {"battery Amperage=fast\n", "line 1: malformed number 'fast'"},
        {"battery Amperage\n", "line 1: 'Amperage' is not KEY=VALUE"},
        {battery + "launch\nkill\nstall 5\n", "line 4: 'stall' needs a running process"},
        // Where adding a tick's 5 s would no longer move the clock, or ticks
        // would be walked for days.
        {"start 1e300\n", "line 1: start time '1e300' is past 1e+11"},
        {"advance 1e12\n", "line 1: 'advance' takes at most 3.2e+07 s; 'stall' skips longer spells"},
        {battery + "launch\nstall 1e11\n", "line 3: the clock would pass 1e+11"},
        {battery + "launch\nsuspend 1e300\n", "line 3: the clock would pass 1e+11"},
        {"suspend 1e11\n", "line 1: the clock would pass 1e+11"},
        {"suspend 1e-9\n", "line 1: the clock cannot move by 1e-09 s at 1800000000"},
        {"advance 1e-9\n", "line 1: the clock cannot move by 1e-09 s at 1800000000"},
        {"system hibernate=1\n", "line 1: 'hibernate' is not a system key"},
        {"system success=3x\n", "line 1: malformed number '3x'"},
        {"system wakeup.LID=-1\n", "line 1: malformed number '-1'"},
        {"system mem_sleep=\n", "line 1: 'mem_sleep' needs a value or '-'"},
        {"system\n", "line 1: 'system' needs KEY=VALUE words"},
        {"suspend -5\n", "line 1: negative time '-5'"},
        {"sleeps now\n", "line 1: 'sleeps' takes 0 word(s) after it, not 1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runScenario(c.scenario), c.error) << c.scenario;
}

TEST(Simulator, KeepsWhatRanBeforeAnError)
{
    std::string output;
    const std::string error = runScenario("store\nlaunch\nbogus\nstore\n", &output);
    EXPECT_EQ(error, "line 3: unknown command 'bogus'");
    EXPECT_EQ(output, "--\n") << "the first store ran, the last did not";
}

TEST(Simulator, StallSkipsTicksButKeepsTheGrid)
{
    std::string output;
    const std::string scenario =
        "launch\nadvance 10\nstall 7\nadvance 2.5\nquit\nstore\nlaunch\nadvance 4\nkill\nstore\n";
    ASSERT_EQ(runScenario(kBattery + scenario, &output), "");
    // Ticks at 5 and 10 ran, 15 was stalled away, and the next one, still due
    // at 20, had not come by the quit at 19.5.
    const std::string saved = "batteryUsage.lastHeartBeat = 1800000010\n";
    const auto first = output.find(saved);
    ASSERT_NE(first, std::string::npos) << output;
    // The second process ticked at 19.5 but was killed: it saved nothing.
    EXPECT_NE(output.find(saved, first + 1), std::string::npos) << output;
}

TEST(Simulator, ALongStallCountsTheSkippedTicksAndKeepsTheGrid)
{
    std::string output;
    ASSERT_EQ(runScenario(kBattery + "launch\nstall 10000000002\nadvance 3\nquit\nstore\n", &output), "");
    // Two thousand million ticks skipped; the next on the grid, at 1e10 + 5, ran.
    EXPECT_NE(output.find("batteryUsage.lastHeartBeat = 11800000005\n"), std::string::npos) << output;
}

// The suspended clock runs only while the machine sleeps: between a sleep
// note and its wake, and through a `suspend`.
TEST(Simulator, SuspendedClockMovesOnlyAsleep)
{
    std::ostringstream out;
    Simulator simulator(out);
    test::TemporaryFolder folder;
    Logger::installMain(std::make_unique<Logger>(folder.path() / "log", simulator.clock(), false));
    const auto run = [&](const std::string& line) {
        std::istringstream in(line + "\n");
        simulator.run(in);
        return simulator.clock().suspendedSeconds();
    };
    run(kBattery);
    EXPECT_EQ(run("suspend 30"), 30);
    run("launch");
    EXPECT_EQ(run("advance 10"), 30);
    EXPECT_EQ(run("stall 20"), 30);
    run("sleep");
    EXPECT_EQ(run("advance 100"), 130);
    run("wake");
    EXPECT_EQ(run("advance 100"), 130);
    // A sleep the process never woke from ends with the next launch.
    run("sleep");
    run("kill");
    EXPECT_EQ(run("advance 50"), 180);
    run("launch");
    EXPECT_EQ(run("advance 50"), 180);
    Logger::installMain(nullptr);
}

} // namespace
} // namespace drainwatch::sim
