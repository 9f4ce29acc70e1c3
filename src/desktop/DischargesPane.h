// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/RecordTable.h"
#include "history/HistoryRows.h"

#include <vector>

namespace drainwatch {

// The past discharges, one row each, newest first.
class DischargesPane : public RecordTable {
    Q_OBJECT
public:
    explicit DischargesPane(QWidget* parent = nullptr);

    // In any order.
    void showRecords(std::vector<DischargeRecord> records);

    static constexpr int kMostRows = 500;
};

} // namespace drainwatch
