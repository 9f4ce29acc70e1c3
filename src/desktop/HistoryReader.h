// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Attribution.h"
#include "history/GraphColumns.h"
#include "history/HistoryRows.h"

#include <functional>
#include <optional>
#include <vector>

namespace drainwatch {

// Where the window's graph, discharges and health read the history from:
// the history file read-only, or recorded rows in a test. Any may be empty.
struct HistoryReader {
    std::function<double()> now;
    // since <= time < until, oldest first.
    std::function<void(double since, double until, const SampleVisitor& visit)> eachSample;
    std::function<std::vector<DischargeRecord>()> discharges;
    std::function<std::vector<TimeSpan>()> sleeps;
    // What the machine did awake on battery in [since, until), and the
    // power model of now that turns it into energy.
    std::function<SpanActivity(double since, double until)> activity;
    std::function<PowerModel()> model;
    // When the count on battery began; empty on AC.
    std::function<std::optional<double>()> unpluggedAt;
};

// The reader's now, else the wall clock's.
double readerNow(const HistoryReader& reader);

} // namespace drainwatch
