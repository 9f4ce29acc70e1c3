// SPDX-License-Identifier: MIT
#pragma once

#include "history/GraphColumns.h"
#include "history/HistoryRows.h"

#include <functional>
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
};

// The reader's now, else the wall clock's.
double readerNow(const HistoryReader& reader);

} // namespace drainwatch
