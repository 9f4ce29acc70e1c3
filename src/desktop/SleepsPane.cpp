// SPDX-License-Identifier: MIT
#include "desktop/SleepsPane.h"

#include "sleep/SleepText.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

#include <fmt/format.h>

namespace drainwatch {

namespace {

QString number(const std::optional<double>& value, const char* format)
{
    if (!value || !std::isfinite(*value))
        return QStringLiteral("-");
    return QString::fromStdString(fmt::format(fmt::runtime(format), *value));
}

QString joined(const std::vector<std::string>& values)
{
    QStringList list;
    for (const auto& value : values)
        list << QString::fromStdString(value);
    return list.join(QStringLiteral(", "));
}

} // namespace

SleepsPane::SleepsPane(QWidget* parent) : QWidget(parent)
{
    const QStringList headers = {tr("When"), tr("How long"),       tr("Mode"),     tr("Used"), tr("%/h"),
                                 tr("mW"),   tr("Hardware sleep"), tr("Woken by"), tr("Flags")};
    table_ = new QTableWidget(0, static_cast<int>(headers.size()), this);
    table_->setObjectName("sleepsTable");
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* empty = new QLabel(tr("No sleep recorded yet."), this);
    empty->setObjectName("noSleepsLabel");
    auto* column = new QVBoxLayout(this);
    column->addWidget(empty);
    column->addWidget(table_);
    showRecords({});
}

void SleepsPane::showRecords(const std::vector<SleepRecord>& newestFirst)
{
    const int rows = static_cast<int>(std::min<std::size_t>(newestFirst.size(), kMostRows));
    findChild<QLabel*>("noSleepsLabel")->setVisible(rows == 0);
    table_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const SleepRecord& r = newestFirst[static_cast<std::size_t>(row)];
        const auto seconds = sleepSeconds(r);
        const QStringList cells = {
            QDateTime::fromSecsSinceEpoch(static_cast<qint64>(r.start)).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            QString::fromStdString(seconds ? sleepDurationText(*seconds) : "-"),
            QString::fromStdString(r.mode.value_or("-")),
            QString::fromStdString(fmt::format("{:.1f}%", r.usedPercentage)),
            number(r.ratePerHour, "{:.2f}"),
            number(r.milliwatts, "{:.0f}"),
            r.hardwareSleep ? number(*r.hardwareSleep * 100, "{:.0f}%") : QStringLiteral("-"),
            r.wokenBy.empty() ? QStringLiteral("-") : joined(r.wokenBy),
            joined(r.flags),
        };
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column >= 3 && column <= 6)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
}

} // namespace drainwatch
