// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryDatabase.h"
#include "history/HistoryRows.h"

#include <vector>

namespace drainwatch {

// The battery's samples and the discharges, in the history database beside
// the sleep records. Samples wait in memory until flush, which writes them
// in one transaction; a discharge is written at once. The samples not yet
// flushed are lost with the object, as with a killed process: the monitor
// flushes at every orderly end.
class HistoryStore {
public:
    explicit HistoryStore(HistoryDatabase& database);
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Oldest first: since <= time < until (wall-clock seconds); with the
    // samples not yet flushed. The visitor must not write to the database.
    void forEachSample(double since, double until, const SampleVisitor& visit) const;
    std::vector<HistorySample> samples(double since, double until) const;
    // Oldest first.
    std::vector<DischargeRecord> discharges() const;

    void addSample(const HistorySample& sample);
    // Written at once, in its own transaction; a failure is said once.
    void addDischarge(const DischargeRecord& record);
    // The waiting samples in one transaction; true when none are left
    // waiting. Kept in memory when the write fails, up to kMostWaiting.
    bool flush();
    std::size_t waiting() const { return waiting_.size(); }
    // Samples and discharges (by their end) before time.
    void deleteOlderThan(double time);

    // Six hours at one a minute and more: a disk that stays full or
    // read-only must not grow the monitor without end.
    static constexpr std::size_t kMostWaiting = 1000;

private:
    HistoryDatabase& database_;
    std::vector<HistorySample> waiting_;
};

} // namespace drainwatch
