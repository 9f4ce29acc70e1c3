// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/SleepRecord.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QTableWidget;

namespace drainwatch {

// Each item's and header's tooltip its text, for where a column elides it
// (a header that has one of its own keeps it).
void setTooltipsFromTexts(QTableWidget& table);

// A row's time: "12-01 08:00" in the table, the year too in its tooltip.
QString shortTime(double time);
QString fullTime(double time);

// The columns as wide as their texts, the widest of those not kept whole
// narrowed (their texts elided, whole in their tooltips) until the table
// fits its width.
void fitColumnsToWidth(QTableWidget& table, const std::vector<int>& whole);

// The sleep history beside the nine figures: one row a sleep, newest first.
class SleepsPane : public QWidget {
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
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QTableWidget* table_ = nullptr;
    QLabel* inhibitors_ = nullptr;
    QWidget* inhibitorsRow_ = nullptr;
    std::function<std::string()> readInhibitors_;
};

} // namespace drainwatch
