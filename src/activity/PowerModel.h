// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// One awake minute on battery: what the battery gave and what the machine did.
struct ModelMinute {
    double time = 0;                     // wall clock at its end
    double seconds = 0;                  // how long, about 60
    double energyWh = 0;                 // what the battery gave, measured
    double cpuSeconds = 0;               // core-seconds of all CPUs
    std::optional<double> screenSeconds; // brightness × seconds on
    std::optional<double> gpuSeconds;    // the whole GPU's busy seconds
    std::optional<double> networkBytes;
};

// This laptop's power, learned from its own minutes:
// W = base + cpuW × cores busy + screenW × brightness + gpuW × GPU busy + netW × MB/s.
// Every coefficient is at least 0, and empty until the minutes determine it
// (a term whose input never varied, or never was read, stays empty).
struct PowerModel {
    std::optional<double> baseW;
    std::optional<double> cpuW;          // per core busy
    std::optional<double> screenW;       // at full brightness
    std::optional<double> gpuW;          // at 100 % busy
    std::optional<double> netW;          // per MB/s (10^6 bytes)
    std::optional<double> r2;            // on the minutes it was fitted on
    std::optional<double> heldOutErrorW; // mean absolute error on the held-out minutes
    int minutes = 0;                     // minutes it was fitted on and held out, together
    double fittedAt = 0;                 // wall clock

    bool determined() const { return baseW.has_value(); }
};

// Non-negative least squares over the minutes, every fifth held out to judge
// it. Undetermined (all empty, minutes counted) with fewer than
// kMinutesToLearn minutes or too little variety to tell the terms apart.
// A term is used only where its input is known in at least 90 % of the
// minutes, and the minutes lacking it are then left out (never read as 0);
// a term collinear with the ones before it (base, CPU, screen, GPU,
// network) is left out. Broken minutes (no time, nan, inf) are not counted.
PowerModel fitPowerModel(const std::vector<ModelMinute>& minutes, double now);

inline constexpr int kMinutesToLearn = 120;

// "learning this laptop: 40 of 120 minutes" while undetermined; else
// "model of this laptop: R² 0.93, held-out error 0.41 W, 10080 minutes".
std::string modelQualityText(const PowerModel& model);

} // namespace drainwatch
