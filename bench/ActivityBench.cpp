// SPDX-License-Identifier: MIT
#include "activity/SystemActivitySource.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>

using namespace drainwatch;

namespace {

// A machine without application units: 400 of the user's processes in the
// login session's scope, read by name.
std::filesystem::path processTree()
{
    auto root = std::filesystem::temp_directory_path() / "drainwatch-activity-bench";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope");
    std::ofstream(root / "sys/fs/cgroup/cgroup.controllers") << "cpu io memory pids\n";
    std::ofstream(root / "sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope/cpu.stat")
        << "usage_usec 900000000\n";
    std::filesystem::create_directories(root / "proc/self");
    std::ofstream(root / "proc/self/cgroup") << "0::/user.slice/user-1000.slice/session-2.scope\n";
    std::ofstream(root / "proc/stat") << "cpu  100000 0 30000 9000000 2000 100 200 0 0 0\n";
    for (int pid = 1000; pid < 1400; ++pid) {
        auto dir = root / "proc" / std::to_string(pid);
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "stat") << fmt::format(
            "{} (worker{}) S 1 {} {} 0 -1 4194304 500 0 0 0 {} 20 0 0 20 0 1 0 {} 10485760 800 "
            "18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 2 0 0 0 0 0\n",
            pid, pid % 40, pid, pid, pid, pid * 3);
        std::ofstream(dir / "status")
            << "Name:\tworker\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t1000\t1000\t1000\t1000\n";
    }
    return root;
}

void readProcesses(benchmark::State& state)
{
    auto root = processTree();
    SystemActivitySource source(root / "sys", root / "proc", {root / "share"}, 1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(source.read());
    std::filesystem::remove_all(root);
}
BENCHMARK(readProcesses)->Unit(benchmark::kMicrosecond);

void readGnomeUnits(benchmark::State& state)
{
    auto root = std::filesystem::path(DRAINWATCH_TEST_DATA) / "activity/gnome/before";
    SystemActivitySource source(root / "sys", root / "proc", {root / "share"}, 1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(source.read());
}
BENCHMARK(readGnomeUnits)->Unit(benchmark::kMicrosecond);

} // namespace
