// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"

#include <QWidget>

#include <vector>

class QTableWidget;

namespace drainwatch {

// The past discharges, one row each, newest first.
class DischargesPane : public QWidget {
    Q_OBJECT
public:
    explicit DischargesPane(QWidget* parent = nullptr);

    // In any order.
    void showRecords(std::vector<DischargeRecord> records);

    static constexpr int kMostRows = 500;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QTableWidget* table_ = nullptr;
};

} // namespace drainwatch
