// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryStore.h"
#include "measure/Clock.h"

#include <optional>
#include <string>

namespace drainwatch {

// When the monitor's readings become history: at most one sample a minute
// while the battery is readable, one at each event, the samples flushed
// every ten minutes (and by the monitor at every orderly end and before a
// sleep), and the rows past a year and a month deleted once a day.
class HistoryRecorder {
public:
    HistoryRecorder(const Clock& clock, HistoryStore& store);

    // Every tick awake, whether the battery could be read or not.
    void tick();
    // A readable tick keeps a sample when this is true: the first one at or
    // after a minute since the last sample (or before it: a clock set back).
    bool sampleDue() const;
    // Keeps the sample, its time the clock's now.
    void record(HistorySample sample);
    void discharge(const DischargeRecord& record);
    bool flush();

    const HistoryStore& store() const { return store_; }

    static constexpr double kSampleSeconds = 60;
    static constexpr double kFlushSeconds = 600;
    static constexpr double kKeptSeconds = 400 * 86400.0;
    static constexpr double kRetentionSeconds = 86400;

private:
    const Clock& clock_;
    HistoryStore& store_;
    std::optional<double> lastSample_;
    double lastFlush_;
    std::optional<double> lastRetention_;
};

} // namespace drainwatch
