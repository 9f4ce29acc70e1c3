// SPDX-License-Identifier: MIT
// What the battery's history costs: one flush of ten minutes of samples to
// a real WAL file with every commit synced, the writes of an hour awake, and
// the file after 30 days of samples at one a minute.
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "support/Records.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace drainwatch {
namespace {

void removeFile(const std::filesystem::path& file)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(file.string() + suffix);
}

std::filesystem::path freshFile(const char* name)
{
    auto file = std::filesystem::temp_directory_path() / (std::string(name) + std::to_string(::getpid()));
    removeFile(file);
    return file;
}

// Ten samples in one transaction, as the monitor writes them every ten minutes.
void BM_FlushOfTenMinutes(benchmark::State& state)
{
    const auto file = freshFile("drainwatch-flush-bench-");
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
        HistoryStore store(database);
        double time = 1800000000;
        for (auto _ : state) {
            state.PauseTiming();
            for (int i = 0; i < 10; ++i, time += 60)
                store.addSample(test::historySample(time));
            state.ResumeTiming();
            benchmark::DoNotOptimize(store.flush());
        }
    }
    removeFile(file);
}
BENCHMARK(BM_FlushOfTenMinutes)->Unit(benchmark::kMicrosecond);

// Thirty days at one a minute, flushed every ten; the file's size (with its
// WAL checkpointed on close) as a counter.
void BM_ThirtyDaysOfSamples(benchmark::State& state)
{
    for (auto _ : state) {
        const auto file = freshFile("drainwatch-month-bench-");
        {
            HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
            HistoryStore store(database);
            double time = 1800000000;
            for (int flush = 0; flush < 30 * 144; ++flush) {
                for (int i = 0; i < 10; ++i, time += 60)
                    store.addSample(test::historySample(time));
                store.flush();
            }
        }
        state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(file));
        removeFile(file);
    }
}
BENCHMARK(BM_ThirtyDaysOfSamples)->Unit(benchmark::kMillisecond)->Iterations(1);

class SteppedClock final : public Clock {
public:
    double now() const override { return time; }
    double suspendedSeconds() const override { return 0; }
    double time = 1800000000;
};

// The process's own I/O counters: wchar, syscw, write_bytes.
std::map<std::string, double> processIo()
{
    std::map<std::string, double> io;
    std::ifstream in("/proc/self/io");
    std::string key;
    double value = 0;
    while (in >> key >> value)
        io[key.substr(0, key.size() - 1)] = value;
    return io;
}

// An hour awake as the monitor spends it: a tick every 5 s, a sample a
// minute, the recorder's flushes; the commits and the bytes written counted.
void BM_AnHourAwake(benchmark::State& state)
{
    for (auto _ : state) {
        const auto file = freshFile("drainwatch-hour-bench-");
        {
            HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
            HistoryStore store(database);
            SteppedClock clock;
            HistoryRecorder recorder(clock, store);
            // The first tick deletes past 400 days, once a day: not the hour's.
            recorder.tick();
            int commits = 0;
            sqlite3_commit_hook(
                database.handle(),
                [](void* count) {
                    ++*static_cast<int*>(count);
                    return 0;
                },
                &commits);
            const auto before = processIo();
            for (int tick = 0; tick < 720; ++tick) {
                clock.time += 5;
                recorder.tick();
                if (recorder.sampleDue())
                    recorder.record(test::historySample(clock.time));
            }
            const auto after = processIo();
            state.counters["commits"] = commits;
            state.counters["write_calls"] = after.at("syscw") - before.at("syscw");
            state.counters["bytes_written"] = after.at("wchar") - before.at("wchar");
            state.counters["disk_bytes"] = after.at("write_bytes") - before.at("write_bytes");
        }
        removeFile(file);
    }
}
BENCHMARK(BM_AnHourAwake)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
} // namespace drainwatch
