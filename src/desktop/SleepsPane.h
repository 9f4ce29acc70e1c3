// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/SleepRecord.h"

#include <QWidget>

#include <vector>

class QTableWidget;

namespace drainwatch {

// The sleep history beside the nine figures: one row a sleep, newest first.
class SleepsPane : public QWidget {
    Q_OBJECT
public:
    explicit SleepsPane(QWidget* parent = nullptr);

    void showRecords(const std::vector<SleepRecord>& newestFirst);

    // The most rows shown; the rest stay in the history (drainwatch --sleeps).
    static constexpr int kMostRows = 500;

private:
    QTableWidget* table_ = nullptr;
};

} // namespace drainwatch
