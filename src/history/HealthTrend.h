// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// The full-charge capacity on one day: the last sample of that day that
// gave it.
struct CapacityPoint {
    double time = 0;
    double fullMAh = 0;
    std::optional<double> designMAh;
    std::optional<std::int64_t> cycles;
};

// How the battery wears, from its history. Capacities in percent of the
// design capacity; wear in percentage points (a positive number while the
// capacity falls). The pace is only worked out over kTrendDays or more.
struct HealthTrend {
    std::vector<CapacityPoint> points;     // one a day, oldest first
    double spanDays = 0;                   // from the first point to the last
    std::optional<double> capacityPercent; // the last point against its design
    std::optional<std::int64_t> cycles;    // the last count the battery gave
    std::optional<double> wearPerYear;
    std::optional<double> wearPer100Cycles;
    std::optional<double> eightyPercentAt; // wall clock; empty unless falling towards it

    bool enoughData() const;
    // The view's lines in words; never nan.
    std::vector<std::string> lines() const;
};

inline constexpr double kTrendDays = 30;

// Adds the capacity of a sample (after every point already in points) to
// points, one a day, the day's last: a long history is read one sample at a
// time, never whole.
void addCapacityPoint(std::vector<CapacityPoint>& points, const HistorySample& sample);
HealthTrend healthTrend(std::vector<CapacityPoint> points);
HealthTrend healthTrend(const std::vector<HistorySample>& samples);

} // namespace drainwatch
