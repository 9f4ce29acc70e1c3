// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/HistoryReader.h"
#include "history/GraphColumns.h"

#include <QColor>
#include <QRect>

#include <optional>
#include <vector>

class QPainter;

namespace drainwatch {

// What the graph shows: the samples and sleeps of a range, back from until.
struct GraphData {
    // Visits the samples of the range, and those just before it, oldest first.
    std::function<void(const SampleVisitor&)> eachSample;
    std::vector<TimeSpan> sleeps; // the records'

    double since = 0;
    double until = 0;
    RateUnit unit = RateUnit::PercentPerHour;
};

// The range of seconds back from until, read through reader.
GraphData readGraphData(const HistoryReader& reader, double until, double seconds, RateUnit unit);

// Draws the charge (left axis, percent) and the drain rate (right axis) over
// time into any painter: the window's graph and `drainwatch --graph`. Sleeps
// and charger spans are shaded; a gap is left empty. The columns are worked
// out once per size and data (reduce()), not on every paint.
class GraphPainter {
public:
    static constexpr QColor kSleepShade{110, 130, 200, 80};
    static constexpr QColor kChargerShade{80, 180, 90, 70};
    static constexpr QColor kChargeLine{35, 100, 210};
    static constexpr QColor kRateLine{230, 120, 20};

    // The plot inside the axes and their labels.
    static QRect plotArea(const QRect& bounds);
    void reduce(const GraphData& data, const QRect& bounds);
    void paint(QPainter& painter, const QRect& bounds) const;
    // The time, charge and rate under x, in words; empty outside the plot.
    std::optional<QString> describe(int x) const;
    // The pointer's line and label, drawn after paint().
    void paintPointer(QPainter& painter, int x) const;

    double xToTime(int x) const;
    int timeToX(double time) const;

private:
    double rateTop() const;

    double since_ = 0;
    double until_ = 0;
    RateUnit unit_ = RateUnit::PercentPerHour;
    QRect plot_;
    std::vector<GraphColumn> columns_;
};

} // namespace drainwatch
