// SPDX-License-Identifier: MIT
// What the sleep history costs: one /sys snapshot (taken at start, before and
// after each sleep, never in an ordinary tick), and the file after 10,000
// records.
#include "sleep/SleepLedger.h"
#include "sleep/SystemSnapshot.h"
#include "support/Records.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace drainwatch {
namespace {

void snapshotOf(benchmark::State& state, const std::filesystem::path& root)
{
    SysfsSnapshotSource source(root);
    for (auto _ : state)
        benchmark::DoNotOptimize(source.take());
}

void BM_SnapshotOfThisMachine(benchmark::State& state) { snapshotOf(state, "/sys"); }
BENCHMARK(BM_SnapshotOfThisMachine);

void BM_SnapshotOfRecordedIntelLaptop(benchmark::State& state)
{
    snapshotOf(state, std::filesystem::path(DRAINWATCH_TEST_DATA) / "sys" / "intel-s2idle-lpit");
}
BENCHMARK(BM_SnapshotOfRecordedIntelLaptop);

// Ten thousand records, one transaction each as the monitor writes them; the
// file's size (with its WAL checkpointed) is reported as a counter.
void BM_HistoryOfTenThousandSleeps(benchmark::State& state)
{
    SleepRecord record = test::sleepRecord(0.5);
    const auto folder = std::filesystem::temp_directory_path() / ("drainwatch-bench-" + std::to_string(::getpid()));
    const auto file = folder / "history.sqlite";
    for (auto _ : state) {
        std::filesystem::remove_all(folder);
        {
            SleepLedger ledger(file, SleepLedger::Access::ReadWrite);
            for (int i = 0; i < 10000; ++i) {
                record.start += 86400;
                record.end += 86400;
                ledger.add(record);
            }
        }
        state.counters["fileBytes"] = static_cast<double>(std::filesystem::file_size(file));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_HistoryOfTenThousandSleeps)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace drainwatch
