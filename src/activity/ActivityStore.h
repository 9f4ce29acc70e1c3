// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Activity.h"
#include "activity/Attribution.h"
#include "activity/PowerModel.h"
#include "history/HistoryDatabase.h"

#include <optional>
#include <vector>

namespace drainwatch {

// What the machine did while awake on battery, in the history database
// beside the samples: each measured span with the battery's energy (what
// the model learns from), and each application's CPU time per ten minutes
// (what is attributed, with the model of the moment it is shown). Spans wait
// in memory until flush, like the samples, and are read with them.
class ActivityStore {
public:
    explicit ActivityStore(HistoryDatabase& database);
    ActivityStore(const ActivityStore&) = delete;
    ActivityStore& operator=(const ActivityStore&) = delete;

    // A span that began at start (wall clock) and what the battery gave in it.
    void add(double start, const ActivityInterval& interval, double energyWh);
    // The waiting spans in one transaction; true when none are left waiting.
    bool flush();
    std::size_t waiting() const { return waiting_.size(); }

    // Summed over the ten-minute buckets from the one that holds since up
    // to until; with the spans not yet flushed.
    SpanActivity span(double since, double until) const;
    // The spans that began in [since, until), oldest first, as the model takes them.
    std::vector<ModelMinute> minutes(double since, double until) const;

    void addModel(const PowerModel& model);
    std::optional<PowerModel> latestModel() const;

    // Spans, buckets and models before time.
    void deleteOlderThan(double time);

    static constexpr double kBucketSeconds = 600;
    static constexpr std::size_t kMostWaiting = 1000;

private:
    struct Waiting {
        double start = 0;
        ActivityInterval interval;
        double energyWh = 0;
    };

    HistoryDatabase& database_;
    std::vector<Waiting> waiting_;
};

// The ten-minute bucket that holds a time: its start.
double activityBucket(double time);

} // namespace drainwatch
