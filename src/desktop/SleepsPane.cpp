// SPDX-License-Identifier: MIT
#include "desktop/SleepsPane.h"

#include "sleep/SleepText.h"
#include "sleep/SystemSnapshot.h"
#include "sleep/WakeSourceNames.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTableWidget>

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

// As its owner knows it: "lid (PNP0C0D:00)".
QString wokenBy(const std::vector<std::string>& ids)
{
    QStringList list;
    for (const auto& id : ids)
        list << QString::fromStdString(wakeSourceText(id, SysfsSnapshotSource::defaultRoot()));
    return list.join(QStringLiteral(", "));
}

} // namespace

SleepsPane::SleepsPane(QWidget* parent)
    : RecordTable(QStringLiteral("sleeps"),
                  // When, how long, used and %/h: what a row is read for.
                  {{tr("When"), tr("How long"), tr("Mode"), tr("Used"), tr("%/h"), tr("mW"), tr("HW sleep"),
                    tr("Woken by"), tr("Flags")},
                   {0, 1, 3, 4},
                   {3, 4, 5, 6}},
                  tr("No sleep recorded yet."), parent)
{
    table_->horizontalHeaderItem(6)->setToolTip(tr("Share of the sleep in hardware sleep"));
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
    layout()->addWidget(inhibitorsRow_);
    inhibitorsRow_->hide();
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
    std::stable_partition(newestFirst.begin(), newestFirst.end(),
                          [](const SleepRecord& r) { return r.how != "not running"; });
    std::vector<TableRow> rows;
    for (const SleepRecord& r : newestFirst) {
        if (rows.size() == kMostRows)
            break;
        const auto seconds = sleepSeconds(r);
        rows.push_back({{
                            shortTime(r.start),
                            QString::fromStdString(seconds ? sleepDurationText(*seconds) : "-"),
                            QString::fromStdString(r.how == "lid closed" ? "awake, lid closed" : r.mode.value_or("-")),
                            QString::fromStdString(fmt::format("{:.1f}%", r.usedPercentage)),
                            number(r.ratePerHour, "{:.2f}"),
                            number(r.milliwatts, "{:.0f}"),
                            r.hardwareSleep ? number(*r.hardwareSleep * 100, "{:.0f}%") : QStringLiteral("-"),
                            r.heldBy                           ? QString::fromStdString(*r.heldBy)
                            : r.wokenBy && !r.wokenBy->empty() ? wokenBy(*r.wokenBy)
                                                               : QStringLiteral("-"),
                            joined(r.flags),
                        },
                        {{0, fullTime(r.start)}},
                        r.how == "not running"});
    }
    setRows(rows);
}

} // namespace drainwatch
