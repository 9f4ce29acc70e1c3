// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Activity.h"
#include "activity/PowerModel.h"

#include <string>
#include <vector>

namespace drainwatch {

enum class EnergyKind { App, Screen, Base, Unexplained };

// One row of what used the battery over a span.
struct EnergyRow {
    std::string key;  // the application's key; "screen", "base", "unexplained"
    std::string name; // "Firefox", "System services", "Screen", "Base", "Unexplained"
    std::string icon;
    EnergyKind kind = EnergyKind::App;
    double energyWh = 0;
    double share = 0;      // of the measured energy; 0 where that is 0
    double cpuSeconds = 0; // apps only
};

// The activity of a span, summed: what attribution takes.
struct SpanActivity {
    double seconds = 0;
    double measuredWh = 0;
    std::vector<ActivityUse> uses; // each key once
    double cpuSeconds = 0;
    std::optional<double> screenSeconds;
    std::optional<double> gpuSeconds;
    std::optional<double> networkBytes;
};

// An application: cpuW × its CPU time (+ gpuW × its own GPU time where
// known); the screen: screenW × brightness × time; the base: baseW × time;
// the network and the GPU time no application owns go to "Kernel and other".
// Unexplained is the measured energy less all of these, so the rows add up
// to exactly what the battery gave; it may be negative where the model
// asks more than the battery gave. Apps largest first, then screen, base,
// unexplained. With an undetermined model: no rows.
std::vector<EnergyRow> attribute(const PowerModel& model, const SpanActivity& span);

const char* energyKindName(EnergyKind kind); // "app", "screen", "base", "unexplained"

// Adds one interval to a span: uses merged by key (name and icon from the
// latest), times and energies summed. An optional total is the sum of the
// intervals that knew it, and stays empty only if none did.
void addInterval(SpanActivity& span, const ActivityInterval& interval, double measuredWh);

} // namespace drainwatch
