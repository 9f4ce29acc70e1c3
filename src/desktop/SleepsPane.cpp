// SPDX-License-Identifier: MIT
#include "desktop/SleepsPane.h"

#include "sleep/SleepText.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
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

// When, how long, used and %/h: what a row is read for.
const std::vector<int> kWholeColumns = {0, 1, 3, 4};

} // namespace

void fitColumnsToWidth(QTableWidget& table, const std::vector<int>& whole)
{
    table.resizeColumnsToContents();
    const int columns = table.columnCount();
    const auto kept = [&whole](int c) { return std::find(whole.begin(), whole.end(), c) != whole.end(); };
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

QString fullTime(double time)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time)).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString shortTime(double time)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time)).toString(QStringLiteral("MM-dd HH:mm"));
}

// Every cell and header says its whole text where it is elided.
void setTooltipsFromTexts(QTableWidget& table)
{
    for (int c = 0; c < table.columnCount(); ++c) {
        if (QTableWidgetItem* header = table.horizontalHeaderItem(c); header && header->toolTip().isEmpty())
            header->setToolTip(header->text());
        for (int r = 0; r < table.rowCount(); ++r)
            if (QTableWidgetItem* item = table.item(r, c))
                item->setToolTip(item->text());
    }
}

SleepsPane::SleepsPane(QWidget* parent) : QWidget(parent)
{
    const QStringList headers = {tr("When"), tr("How long"), tr("Mode"),     tr("Used"), tr("%/h"),
                                 tr("mW"),   tr("HW sleep"), tr("Woken by"), tr("Flags")};
    table_ = new QTableWidget(0, static_cast<int>(headers.size()), this);
    table_->setObjectName("sleepsTable");
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setStretchLastSection(true);
    // One line a row: a narrowed column elides its text rather than wrapping it.
    table_->setWordWrap(false);
    table_->horizontalHeaderItem(6)->setToolTip(tr("Share of the sleep in hardware sleep"));
    auto* empty = new QLabel(tr("No sleep recorded yet."), this);
    empty->setObjectName("noSleepsLabel");
    auto* column = new QVBoxLayout(this);
    column->addWidget(empty);
    column->addWidget(table_);
    inhibitorsRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(inhibitorsRow_);
    row->setContentsMargins(0, 0, 0, 0);
    inhibitors_ = new QLabel(inhibitorsRow_);
    inhibitors_->setObjectName("inhibitorsLabel");
    inhibitors_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    inhibitors_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* refresh = new QPushButton(tr("What Holds Sleep"), inhibitorsRow_);
    refresh->setObjectName("inhibitorsButton");
    refresh->setToolTip(tr("logind's inhibitor locks, the lid, and what closing it does, now"));
    connect(refresh, &QPushButton::clicked, this, &SleepsPane::showInhibitors);
    row->addWidget(inhibitors_, 1);
    row->addWidget(refresh, 0, Qt::AlignTop);
    column->addWidget(inhibitorsRow_);
    inhibitorsRow_->hide();
    showRecords({});
}

void SleepsPane::setInhibitorsReader(std::function<std::string()> reader)
{
    readInhibitors_ = std::move(reader);
    inhibitorsRow_->setVisible(static_cast<bool>(readInhibitors_));
}

void SleepsPane::showInhibitors()
{
    if (!readInhibitors_)
        return;
    QString text = QString::fromStdString(readInhibitors_());
    if (text.endsWith('\n'))
        text.chop(1);
    inhibitors_->setText(text);
}

void SleepsPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showInhibitors();
}

void SleepsPane::showRecords(std::vector<SleepRecord> newestFirst)
{
    // The gaps while Drainwatch did not run, mostly its own restarts, go
    // after the sleeps it watched, greyed; a spell awake with the lid closed
    // stands among the sleeps, its mode column saying so.
    const auto gaps = std::stable_partition(newestFirst.begin(), newestFirst.end(),
                                            [](const SleepRecord& r) { return r.how != "not running"; });
    const int firstGap = static_cast<int>(gaps - newestFirst.begin());
    const int rows = static_cast<int>(std::min<std::size_t>(newestFirst.size(), kMostRows));
    findChild<QLabel*>("noSleepsLabel")->setVisible(rows == 0);
    table_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const SleepRecord& r = newestFirst[static_cast<std::size_t>(row)];
        const auto seconds = sleepSeconds(r);
        const QStringList cells = {
            shortTime(r.start),
            QString::fromStdString(seconds ? sleepDurationText(*seconds) : "-"),
            QString::fromStdString(r.how == "lid closed" ? "awake, lid closed" : r.mode.value_or("-")),
            QString::fromStdString(fmt::format("{:.1f}%", r.usedPercentage)),
            number(r.ratePerHour, "{:.2f}"),
            number(r.milliwatts, "{:.0f}"),
            r.hardwareSleep ? number(*r.hardwareSleep * 100, "{:.0f}%") : QStringLiteral("-"),
            r.heldBy                           ? QString::fromStdString(*r.heldBy)
            : r.wokenBy && !r.wokenBy->empty() ? joined(*r.wokenBy)
                                               : QStringLiteral("-"),
            joined(r.flags),
        };
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (row >= firstGap)
                item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            if (column >= 3 && column <= 6)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, column, item);
        }
    }
    setTooltipsFromTexts(*table_);
    for (int row = 0; row < rows; ++row)
        table_->item(row, 0)->setToolTip(fullTime(newestFirst[static_cast<std::size_t>(row)].start));
    fitColumnsToWidth(*table_, kWholeColumns);
}

void SleepsPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitColumnsToWidth(*table_, kWholeColumns);
}

} // namespace drainwatch
