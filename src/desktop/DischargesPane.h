// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/RecordTable.h"
#include "history/HistoryRows.h"

#include <functional>
#include <vector>

namespace drainwatch {

// The past discharges, one row each, newest first.
class DischargesPane : public RecordTable {
    Q_OBJECT
public:
    explicit DischargesPane(QWidget* parent = nullptr);

    // The names of a discharge's largest applications, "Firefox, Builder, Editor".
    using LargestApplications = std::function<QString(double start, double end)>;
    // In any order; without largest, that column says "-".
    void showRecords(std::vector<DischargeRecord> records, const LargestApplications& largest = {});

    static constexpr int kMostRows = 500;
};

} // namespace drainwatch
