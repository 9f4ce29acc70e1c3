// SPDX-License-Identifier: MIT
#include "desktop/DischargesPane.h"

#include "desktop/SleepsPane.h"
#include "sleep/SleepText.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace drainwatch {

namespace {

QString duration(double seconds)
{
    return std::isfinite(seconds) && seconds > 0 ? QString::fromStdString(sleepDurationText(seconds))
                                                 : QStringLiteral("-");
}

QString percent(double fraction)
{
    return std::isfinite(fraction) ? QStringLiteral("%1%").arg(fraction * 100, 0, 'f', 1) : QStringLiteral("-");
}

// From, awake and the charge: what a row is read for.
const std::vector<int> kWholeColumns = {0, 2, 4};

// The end of a discharge on the day it began needs its time alone.
bool sameDay(double start, double end)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(start)).date() ==
           QDateTime::fromSecsSinceEpoch(static_cast<qint64>(end)).date();
}

} // namespace

DischargesPane::DischargesPane(QWidget* parent) : QWidget(parent)
{
    const QStringList headers = {tr("From"),          tr("Until"),   tr("Awake"),      tr("In total"),  tr("Charge"),
                                 tr("Used in sleep"), tr("Average"), tr("Full lasts"), tr("Awake only")};
    table_ = new QTableWidget(0, static_cast<int>(headers.size()), this);
    table_->setObjectName("dischargesTable");
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);
    auto* empty = new QLabel(tr("No discharge recorded yet: one is kept each time the charger is connected."), this);
    empty->setObjectName("noDischargesLabel");
    auto* column = new QVBoxLayout(this);
    column->addWidget(empty);
    column->addWidget(table_);
    showRecords({});
}

void DischargesPane::showRecords(std::vector<DischargeRecord> records)
{
    std::sort(records.begin(), records.end(),
              [](const DischargeRecord& a, const DischargeRecord& b) { return a.start > b.start; });
    const int rows = static_cast<int>(std::min<std::size_t>(records.size(), kMostRows));
    findChild<QLabel*>("noDischargesLabel")->setVisible(rows == 0);
    table_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const DischargeRecord& r = records[static_cast<std::size_t>(row)];
        const QStringList cells = {
            shortTime(r.start),
            sameDay(r.start, r.end) ? QDateTime::fromSecsSinceEpoch(static_cast<qint64>(r.end)).toString("HH:mm")
                                    : shortTime(r.end),
            duration(r.awakeSeconds),
            duration(r.totalSeconds),
            percent(r.chargeAtStart) + QStringLiteral(" → ") + percent(r.chargeAtEnd),
            percent(r.usedInSleep),
            std::isfinite(r.averageMA) && r.averageMA > 0 ? QStringLiteral("%1 mA").arg(r.averageMA, 0, 'f', 0)
                                                          : QStringLiteral("-"),
            duration(r.extrapolatedSeconds),
            duration(r.extrapolatedWithoutSleepSeconds),
        };
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column >= 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, column, item);
        }
    }
    setTooltipsFromTexts(*table_);
    for (int row = 0; row < rows; ++row) {
        table_->item(row, 0)->setToolTip(fullTime(records[static_cast<std::size_t>(row)].start));
        table_->item(row, 1)->setToolTip(fullTime(records[static_cast<std::size_t>(row)].end));
    }
    fitColumnsToWidth(*table_, kWholeColumns);
}

void DischargesPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitColumnsToWidth(*table_, kWholeColumns);
}

} // namespace drainwatch
