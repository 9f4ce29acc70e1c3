// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/RecordTable.h"
#include "sleep/SleepRecord.h"

#include <functional>
#include <string>
#include <vector>

class QLabel;

namespace drainwatch {

// The sleep history beside the nine figures: one row a sleep, newest first.
class SleepsPane : public RecordTable {
    Q_OBJECT
public:
    explicit SleepsPane(QWidget* parent = nullptr);

    void showRecords(std::vector<SleepRecord> newestFirst);
    // What holds sleep, idle and the lid now (as drainwatch --inhibitors
    // prints it): asked when the tab is shown and on its button, never in a
    // tick. Unset, the list is hidden.
    void setInhibitorsReader(std::function<std::string()> reader);
    void showInhibitors();

    // The most rows shown; the rest stay in the history (drainwatch --sleeps).
    static constexpr int kMostRows = 500;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* inhibitors_ = nullptr;
    QWidget* inhibitorsRow_ = nullptr;
    std::function<std::string()> readInhibitors_;
};

} // namespace drainwatch
