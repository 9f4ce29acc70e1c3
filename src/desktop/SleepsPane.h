// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/RecordTable.h"
#include "sleep/SleepRecord.h"

#include <vector>

namespace drainwatch {

// The sleep history beside the nine figures: one row a sleep, newest first.
class SleepsPane : public RecordTable {
    Q_OBJECT
public:
    explicit SleepsPane(QWidget* parent = nullptr);

    void showRecords(std::vector<SleepRecord> newestFirst);

    // The most rows shown; the rest stay in the history (drainwatch --sleeps).
    static constexpr int kMostRows = 500;
};

} // namespace drainwatch
