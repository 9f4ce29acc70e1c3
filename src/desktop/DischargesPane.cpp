// SPDX-License-Identifier: MIT
#include "desktop/DischargesPane.h"

#include "sleep/SleepText.h"

#include <QDateTime>

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

// The end of a discharge on the day it began needs its time alone.
bool sameDay(double start, double end)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(start)).date() ==
           QDateTime::fromSecsSinceEpoch(static_cast<qint64>(end)).date();
}

} // namespace

DischargesPane::DischargesPane(QWidget* parent)
    : RecordTable(QStringLiteral("discharges"),
                  // From, awake and the charge: what a row is read for.
                  {{tr("From"), tr("Until"), tr("Awake"), tr("In total"), tr("Charge"), tr("Used in sleep"),
                    tr("Average"), tr("Full lasts"), tr("Awake only"), tr("Largest")},
                   {0, 2, 4},
                   {2, 3, 4, 5, 6, 7, 8}},
                  tr("No discharge recorded yet: one is kept each time the charger is connected."), parent)
{
}

void DischargesPane::showRecords(std::vector<DischargeRecord> records, const LargestApplications& largest)
{
    std::sort(records.begin(), records.end(),
              [](const DischargeRecord& a, const DischargeRecord& b) { return a.start > b.start; });
    std::vector<TableRow> rows;
    for (const DischargeRecord& r : records) {
        if (rows.size() == kMostRows)
            break;
        rows.push_back(
            {{
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
                 [&] {
                     const QString names = largest ? largest(r.start, r.end) : QString();
                     return names.isEmpty() ? QStringLiteral("-") : names;
                 }(),
             },
             {{0, fullTime(r.start)}, {1, fullTime(r.end)}}});
    }
    setRows(rows);
}

} // namespace drainwatch
