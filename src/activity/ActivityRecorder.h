// SPDX-License-Identifier: MIT
#pragma once

#include "activity/ActivityStore.h"
#include "measure/Clock.h"

#include <deque>
#include <optional>
#include <string>

namespace drainwatch {

// When the machine's activity is read and learned from: once a minute while
// awake on battery, and at a sleep and at the end, each span booked with the
// energy the battery gave in it (the ticks' power over their intervals). A
// gap, the charger or an unreadable power begins a new span, so no span
// holds a time that was not awake on battery. The model is fitted again
// after every kRefitMinutes new minutes while it learns, then once a day.
class ActivityRecorder {
public:
    ActivityRecorder(const Clock& clock, ActivitySource& source, ActivityStore& store);

    // Every tick that read the battery, after its heartbeat. watts: what the
    // battery gives now, where known.
    void readableTick(bool onBattery, std::optional<double> watts, bool missedHeartbeat);
    // The span so far is booked; the next one begins at the wake.
    void willSleep();
    void processEnding();
    bool flush() { return store_.flush(); }

    const PowerModel& model() const { return model_; }
    // What used the most over the last ten minutes' spans, as of the last
    // read; empty where nothing ran. Kept, so that a tick asks no database.
    const std::string& topApplication() const { return topApplication_; }
    const ActivityStore& store() const { return store_; }

    static constexpr double kReadSeconds = 60;
    static constexpr std::size_t kSpansPerFlush = 10;
    static constexpr double kLongestTickSeconds = 15;
    static constexpr int kRefitMinutes = 30;
    static constexpr double kTopSeconds = 600;
    static constexpr double kRefitSeconds = 86400;
    // The minutes fitted on: the laptop of the last two months.
    static constexpr double kFittedSeconds = 60 * 86400.0;
    // Shorter spans (a sleep just after a read) are kept for the shares but
    // are too short to learn the power from.
    static constexpr double kShortestLearnedSeconds = 30;
    // As long as the samples are kept.
    static constexpr double kKeptSeconds = 400 * 86400.0;

private:
    void closeSpan();
    void refitIfDue(double now);

    const Clock& clock_;
    ActivitySource& source_;
    ActivityStore& store_;
    std::optional<ActivitySnapshot> spanStart_;
    double spanEnergyWh_ = 0;
    double lastWatts_ = 0;
    double lastTick_ = 0;
    PowerModel model_;
    int minutesSinceFit_ = 0;
    std::optional<double> lastRetention_;
    struct RecentSpan {
        double end = 0;
        ActivityInterval interval;
        double energyWh = 0;
    };
    std::deque<RecentSpan> recent_;
    std::string topApplication_;
};

// The minutes in the store that the next fit would learn from.
int learnedMinutes(const ActivityStore& store, double now);

} // namespace drainwatch
