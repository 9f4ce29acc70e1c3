// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <QWidget>

#include <utility>
#include <vector>

class QLabel;
class QTableWidget;

namespace drainwatch {

// A row's time: "12-01 08:00" in the table, the year too in its tooltip.
QString shortTime(double time);
QString fullTime(double time);

// One row: its cells, the tooltips of cells that say more than their text
// (column, text), and whether it is greyed as one apart from the rest.
struct TableRow {
    QStringList cells;
    std::vector<std::pair<int, QString>> tooltips;
    bool greyed = false;
};

// A list of records beside the nine figures, or a line saying there is none
// yet. The columns are as wide as their texts; the widest of those not kept
// whole narrow (elided, whole in their tooltips) until the table fits.
class RecordTable : public QWidget {
    Q_OBJECT
public:
    struct Columns {
        QStringList headers;
        std::vector<int> whole;
        std::vector<int> rightAligned;
    };
    // name: the table's object name; the empty line's is "no" + Name + "Label".
    RecordTable(const QString& name, Columns columns, const QString& emptyText, QWidget* parent);

    void setRows(const std::vector<TableRow>& rows);

protected:
    void resizeEvent(QResizeEvent* event) override;
    QTableWidget* table_ = nullptr;

private:
    void fitColumnsToWidth();

    Columns columns_;
    QLabel* empty_ = nullptr;
};

} // namespace drainwatch
