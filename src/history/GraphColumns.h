// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"

#include <cstddef>
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

// The drain rate of one sample in unit: from its current, with its full
// capacity (%/h) or its voltage (W); empty on external power or where a
// figure is missing or not finite.
std::optional<double> sampleRate(const HistorySample& sample, RateUnit unit);

// Reduces samples between since and until to columns of equal spans, taking
// them one at a time, oldest first: 30 days go from the file straight into
// the columns. O(samples + columns).
class ColumnReducer {
public:
    ColumnReducer(double since, double until, int columns, RateUnit unit);
    void add(const HistorySample& sample);
    // recorded: the sleep records' spans; the sleeps in the samples (from
    // "will sleep" to the next sample, normally the "wake") are found here.
    // Once, at the end. No columns for an empty range.
    std::vector<GraphColumn> columns(const std::vector<TimeSpan>& recorded);

private:
    struct Previous {
        double time = 0;
        bool onExternalPower = false;
        bool willSleep = false;
    };
    // The columns [start, end) touches, as a half-open range.
    struct Touched {
        std::size_t first = 0;
        std::size_t end = 0;
    };
    Touched touched(double start, double end) const;
    std::optional<int> columnAt(double time) const;
    void cover(double start, double end, bool charging);

    double since_;
    double until_;
    double width_ = 0;
    RateUnit unit_;
    std::vector<GraphColumn> out_;
    std::vector<char> covered_;
    std::vector<double> rateSum_;
    std::vector<int> rateCount_;
    std::vector<TimeSpan> sleeps_;
    std::optional<Previous> previous_;
};

// The same for samples at hand.
std::vector<GraphColumn> graphColumns(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& sleeps,
                                      double since, double until, int columns, RateUnit unit);

} // namespace drainwatch
