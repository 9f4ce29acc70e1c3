// SPDX-License-Identifier: MIT
#include "history/HistoryRecorder.h"

namespace drainwatch {

namespace {

// Due once interval has passed since last; a clock set back starts over.
bool due(const std::optional<double>& last, double now, double interval)
{
    return !last || now - *last >= interval || now < *last;
}

} // namespace

HistoryRecorder::HistoryRecorder(const Clock& clock, HistoryStore& store)
    : clock_(clock), store_(store), lastFlush_(clock.now())
{
}

void HistoryRecorder::tick()
{
    const double now = clock_.now();
    if (due(lastRetention_, now, kRetentionSeconds)) {
        lastRetention_ = now;
        store_.deleteOlderThan(now - kKeptSeconds);
    }
    if (due(lastFlush_, now, kFlushSeconds))
        flush();
}

bool HistoryRecorder::sampleDue() const { return due(lastSample_, clock_.now(), kSampleSeconds); }

void HistoryRecorder::record(HistorySample sample)
{
    sample.time = clock_.now();
    lastSample_ = sample.time;
    store_.addSample(sample);
}

void HistoryRecorder::discharge(const DischargeRecord& record) { store_.addDischarge(record); }

bool HistoryRecorder::flush()
{
    // A failed flush is tried again ten minutes on, not at every tick.
    lastFlush_ = clock_.now();
    return store_.flush();
}

} // namespace drainwatch
