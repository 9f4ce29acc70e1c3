#include "log/Logger.h"
#include "sim/Simulator.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <sstream>

namespace drainwatch::sim {
namespace {

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
        {"advance 1e-9\n", "line 1: the clock cannot move by 1e-09 s at 1800000000"},
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
    const std::string scenario = "battery DesignCapacity=5000 MaxCapacity=5000 CurrentCapacity=4000 "
                                 "Amperage=-1000 Voltage=12000 ExternalConnected=false\n"
                                 "launch\nadvance 10\nstall 7\nadvance 2.5\nquit\nstore\n"
                                 "launch\nadvance 4\nkill\nstore\n";
    ASSERT_EQ(runScenario(scenario, &output), "");
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
    const std::string scenario = "battery DesignCapacity=5000 MaxCapacity=5000 CurrentCapacity=4000 "
                                 "Amperage=-1000 Voltage=12000 ExternalConnected=false\n"
                                 "launch\nstall 10000000002\nadvance 3\nquit\nstore\n";
    ASSERT_EQ(runScenario(scenario, &output), "");
    // Two thousand million ticks skipped; the next on the grid, at 1e10 + 5, ran.
    EXPECT_NE(output.find("batteryUsage.lastHeartBeat = 11800000005\n"), std::string::npos) << output;
}

} // namespace
} // namespace drainwatch::sim
