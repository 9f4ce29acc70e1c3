// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"

#include <optional>
#include <vector>

namespace drainwatch {

// A time span, wall clock seconds since 1970.
struct TimeSpan {
    double start = 0;
    double end = 0;
};

// What one pixel column of the graph shows. Charges are fractions of full;
// the rate is in the unit asked for, empty where no sample in the column was
// on battery with a rate.
struct GraphColumn {
    std::optional<double> minCharge;
    std::optional<double> maxCharge;
    std::optional<double> lastCharge;
    std::optional<double> rate;
    bool asleep = false;   // a sleep overlaps the column
    bool charging = false; // a sample on external power covers part of it
    bool gap = false;      // neither a sample nor a sleep covers any of it
};

enum class RateUnit { PercentPerHour, Watts };

// A sample stands for the time up to the next one when that comes within
// this; a longer silence that is not a sleep is a gap (Drainwatch did not
// run). Samples come at least once a minute while it runs.
inline constexpr double kGapSeconds = 300;

// The sleeps in samples (from "will sleep" to the next sample, normally the
// "wake"), and the records' spans, merged, oldest first.
std::vector<TimeSpan> sleepSpans(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& recorded);

// The drain rate of one sample in unit: from its current, with its full
// capacity (%/h) or its voltage (W); empty on external power or where a
// figure is missing or not finite.
std::optional<double> sampleRate(const HistorySample& sample, RateUnit unit);

// Reduces samples (oldest first) between since and until to columns equal
// spans. O(samples + columns), so 30 days of samples cost one pass.
std::vector<GraphColumn> graphColumns(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& sleeps,
                                      double since, double until, int columns, RateUnit unit);

} // namespace drainwatch
