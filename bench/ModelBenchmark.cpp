// SPDX-License-Identifier: MIT
#include "activity/PowerModel.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace drainwatch;

// 400 days of minutes on battery: what the fit meets on a laptop used for years.
static void BM_FitPowerModel(benchmark::State& state)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 0.3);
    std::vector<ModelMinute> minutes;
    for (int i = 0; i < 200000; ++i) {
        const double cores = 2 * unit(random), brightness = unit(random), gpu = unit(random), mbps = 5 * unit(random);
        const double powerW = 4 + 9 * cores + 3.5 * brightness + 6 * gpu + 0.2 * mbps + noise(random);
        minutes.push_back(ModelMinute{60.0 * i, 60, powerW / 60, cores * 60, brightness * 60, gpu * 60, mbps * 60e6});
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(fitPowerModel(minutes, 0));
}
BENCHMARK(BM_FitPowerModel)->Unit(benchmark::kMillisecond);
