// SPDX-License-Identifier: MIT
#include "desktop/RecordTable.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace drainwatch {

QString fullTime(double time)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time)).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString shortTime(double time)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time)).toString(QStringLiteral("MM-dd HH:mm"));
}

RecordTable::RecordTable(const QString& name, Columns columns, const QString& emptyText, QWidget* parent)
    : QWidget(parent), columns_(std::move(columns))
{
    table_ = new QTableWidget(0, static_cast<int>(columns_.headers.size()), this);
    table_->setObjectName(name + QStringLiteral("Table"));
    table_->setHorizontalHeaderLabels(columns_.headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setStretchLastSection(true);
    // One line a row: a narrowed column elides its text rather than wrapping it.
    table_->setWordWrap(false);
    empty_ = new QLabel(emptyText, this);
    QString label = name;
    label[0] = label[0].toUpper();
    empty_->setObjectName(QStringLiteral("no") + label + QStringLiteral("Label"));
    auto* column = new QVBoxLayout(this);
    column->addWidget(empty_);
    column->addWidget(table_);
    setRows({});
}

void RecordTable::setRows(const std::vector<TableRow>& rows)
{
    empty_->setVisible(rows.empty());
    table_->setRowCount(static_cast<int>(rows.size()));
    const auto has = [](const std::vector<int>& set, int c) {
        return std::find(set.begin(), set.end(), c) != set.end();
    };
    for (int row = 0; row < table_->rowCount(); ++row) {
        const TableRow& r = rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < r.cells.size() && column < table_->columnCount(); ++column) {
            auto* item = new QTableWidgetItem(r.cells[column]);
            // Every cell says its whole text where it is elided.
            item->setToolTip(r.cells[column]);
            if (r.greyed)
                item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            if (has(columns_.rightAligned, column))
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, column, item);
        }
        for (const auto& [column, tip] : r.tooltips)
            if (QTableWidgetItem* item = table_->item(row, column))
                item->setToolTip(tip);
    }
    // A header with a tooltip of its own keeps it.
    for (int c = 0; c < table_->columnCount(); ++c)
        if (QTableWidgetItem* header = table_->horizontalHeaderItem(c); header && header->toolTip().isEmpty())
            header->setToolTip(header->text());
    fitColumnsToWidth();
}

void RecordTable::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitColumnsToWidth();
}

void RecordTable::fitColumnsToWidth()
{
    QTableWidget& table = *table_;
    table.resizeColumnsToContents();
    const int columns = table.columnCount();
    const auto kept = [this](int c) {
        return std::find(columns_.whole.begin(), columns_.whole.end(), c) != columns_.whole.end();
    };
    std::vector<int> widths;
    int available = table.viewport()->width();
    for (int c = 0; c < columns; ++c) {
        if (kept(c))
            available -= table.columnWidth(c);
        else
            widths.push_back(table.columnWidth(c));
    }
    if (widths.empty())
        return;
    const auto total = [&widths](int cap) {
        int sum = 0;
        for (const int width : widths)
            sum += std::min(width, cap);
        return sum;
    };
    constexpr int kNarrowest = 28;
    int cap = *std::max_element(widths.begin(), widths.end());
    if (total(cap) <= available)
        return;
    // The largest cap under which the columns fit, at least kNarrowest.
    while (cap > kNarrowest && total(cap) > available)
        --cap;
    for (int c = 0; c < columns; ++c)
        if (!kept(c))
            table.setColumnWidth(c, std::min(table.columnWidth(c), cap));
}

} // namespace drainwatch
