// SPDX-License-Identifier: MIT
#include "desktop/AppsPane.h"

#include "activity/AppsText.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace drainwatch {

namespace {

constexpr int kNameColumn = 0;

QString figure(std::optional<double> value, int decimals, const QString& unit)
{
    if (!value || !std::isfinite(*value))
        return QStringLiteral("—");
    return QStringLiteral("%1%2").arg(*value, 0, 'f', decimals).arg(unit);
}

QString cpuTime(double seconds)
{
    const auto whole = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// Machine-given text in a label: never read as markup.
QLabel* plainLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

std::optional<double> appsSpanStart(AppsSpan span, double now, std::optional<double> unpluggedAt)
{
    switch (span) {
    case AppsSpan::LastHour:
        return now - 3600;
    case AppsSpan::SinceUnplugging:
        if (!unpluggedAt || !std::isfinite(*unpluggedAt) || *unpluggedAt > now)
            return std::nullopt;
        return *unpluggedAt;
    case AppsSpan::Today:
        return static_cast<double>(
            QDateTime::fromSecsSinceEpoch(static_cast<qint64>(now)).date().startOfDay().toSecsSinceEpoch());
    case AppsSpan::SevenDays:
        return now - 7 * 86400;
    }
    return std::nullopt;
}

AppsPane::AppsPane(QWidget* parent)
    : RecordTable(
          QStringLiteral("apps"),
          {{tr("Application"), tr("Energy"), tr("Share"), tr("Mean"), tr("CPU time")}, {1, 2, 3, 4}, {1, 2, 3, 4}},
          tr("Nothing recorded awake on battery in this span."), parent)
{
    spanChoice_ = new QComboBox(this);
    spanChoice_->setObjectName("appsSpanChoice");
    spanChoice_->addItems({tr("Last hour"), tr("Since unplugging"), tr("Today"), tr("7 days")});
    connect(spanChoice_, &QComboBox::currentIndexChanged, this, &AppsPane::spanChanged);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Span:"), this));
    top->addWidget(spanChoice_);
    top->addStretch(1);
    note_ = plainLabel(QStringLiteral("appsNoteLabel"), this);
    quality_ = plainLabel(QStringLiteral("appsQualityLabel"), this);
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->insertLayout(0, top);
    column->insertWidget(1, note_);
    column->addWidget(quality_);
    note_->hide();
}

AppsSpan AppsPane::chosenSpan() const { return static_cast<AppsSpan>(spanChoice_->currentIndex()); }

void AppsPane::refresh(const HistoryReader& reader)
{
    const double now = readerNow(reader);
    const std::optional<double> since =
        appsSpanStart(chosenSpan(), now, reader.unpluggedAt ? reader.unpluggedAt() : std::nullopt);
    const PowerModel model = reader.model ? reader.model() : PowerModel{};
    quality_->setText(QString::fromStdString(modelQualityText(model)));
    if (!since) {
        note_->setText(tr("On AC: the count since unplugging begins when the charger is disconnected."));
        note_->show();
        showRows(model, SpanActivity{});
        return;
    }
    note_->hide();
    showRows(model, reader.activity ? reader.activity(*since, now) : SpanActivity{});
}

void AppsPane::showRows(const PowerModel& model, const SpanActivity& span)
{
    std::vector<TableRow> rows;
    std::vector<QString> icons;
    // No time awake on battery: no base of 0 Wh either.
    if (!(span.seconds > 0)) {
        setRows(rows);
        return;
    }
    const std::vector<EnergyRow> attributed = attribute(model, span);
    if (attributed.empty()) {
        std::vector<ActivityUse> uses;
        for (const ActivityUse& use : span.uses)
            if (use.cpuSeconds > 0)
                uses.push_back(use);
        std::stable_sort(uses.begin(), uses.end(),
                         [](const ActivityUse& a, const ActivityUse& b) { return a.cpuSeconds > b.cpuSeconds; });
        for (const ActivityUse& use : uses) {
            rows.push_back({{QString::fromStdString(printableName(use.name)), QStringLiteral("—"), QStringLiteral("—"),
                             QStringLiteral("—"), cpuTime(use.cpuSeconds)},
                            {}});
            icons.push_back(QString::fromStdString(use.icon));
        }
    } else {
        const double hours = span.seconds / 3600;
        for (const EnergyRow& row : attributed) {
            const bool app = row.kind == EnergyKind::App;
            rows.push_back({{QString::fromStdString(printableName(row.name)), figure(row.energyWh, 2, " Wh"),
                             figure(row.share * 100, 1, "%"),
                             figure(hours > 0 ? std::optional<double>(row.energyWh / hours) : std::nullopt, 2, " W"),
                             app ? cpuTime(row.cpuSeconds) : QString()},
                            {},
                            // What the model cannot place is set apart from what it can.
                            row.kind == EnergyKind::Unexplained});
            icons.push_back(app ? QString::fromStdString(row.icon) : QString());
        }
    }
    setRows(rows);
    for (int row = 0; row < table_->rowCount(); ++row) {
        const QString& icon = icons[static_cast<std::size_t>(row)];
        if (QTableWidgetItem* item = table_->item(row, kNameColumn); item && !icon.isEmpty())
            item->setIcon(QIcon::fromTheme(icon));
    }
}

} // namespace drainwatch
