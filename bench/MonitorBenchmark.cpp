// SPDX-License-Identifier: MIT
// What one tick of the monitor costs, and a whole day of them, with the
// battery, store and clock in memory: the monitor's own share of the cost.
#include "log/Logger.h"
#include "sim/Simulator.h"

#include <benchmark/benchmark.h>

#include <sstream>

namespace drainwatch {
namespace {

const char* const kBattery = "battery DesignCapacity=6000 MaxCapacity=5400 CurrentCapacity=4860 "
                             "Amperage=-1200 Voltage=12400 ExternalConnected=false\n";

void installNullLog(const Clock& clock) { Logger::installMain(std::make_unique<Logger>("/dev/null", clock, false)); }

void BM_OneTick(benchmark::State& state)
{
    std::ostringstream out;
    sim::Simulator simulator(out);
    installNullLog(simulator.clock());
    std::istringstream setUp(std::string(kBattery) + "launch\n");
    simulator.run(setUp);
    const std::vector<std::string> advance = {"advance", "5"};
    for (auto _ : state)
        simulator.execute(advance);
}
BENCHMARK(BM_OneTick);

// 17280 ticks, with a sleep of an hour in the middle.
void BM_SimulatedDay(benchmark::State& state)
{
    for (auto _ : state) {
        std::ostringstream out;
        sim::Simulator simulator(out);
        installNullLog(simulator.clock());
        std::istringstream day(std::string(kBattery) +
                               "launch\nadvance 41400\nsleep\nadvance 3600\nwake\nadvance 41400\nquit\n");
        simulator.run(day);
        benchmark::DoNotOptimize(out.str());
    }
    state.SetItemsProcessed(state.iterations() * 17280);
}
BENCHMARK(BM_SimulatedDay)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace drainwatch
