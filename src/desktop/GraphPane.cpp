// SPDX-License-Identifier: MIT
#include "desktop/GraphPane.h"

#include "history/GraphRange.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace drainwatch {

namespace {

QLabel* key(const QColor& colour, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("<span style='background:%1'>&nbsp;&nbsp;&nbsp;&nbsp;</span> %2")
                                 .arg(colour.name(QColor::HexArgb), text.toHtmlEscaped()),
                             parent);
    return label;
}

} // namespace

GraphPane::GraphPane(QWidget* parent) : QWidget(parent)
{
    range_ = new QComboBox(this);
    range_->setObjectName("graphRange");
    for (const GraphRange& range : kGraphRanges)
        range_->addItem(tr(range.label), QString::fromLatin1(range.name));
    range_->setCurrentIndex(static_cast<int>(kDefaultGraphRange));
    connect(range_, &QComboBox::currentIndexChanged, this, &GraphPane::rangeChanged);
    view_ = new GraphView(this);

    auto* top = new QHBoxLayout;
    top->addWidget(range_);
    top->addStretch();
    // Solid colours for the key: the shades are see-through.
    top->addWidget(key(QColor(GraphPainter::kChargeLine), tr("charge"), this));
    top->addWidget(key(QColor(GraphPainter::kRateLine), tr("drain"), this));
    top->addWidget(key(QColor(GraphPainter::kSleepShade.red(), GraphPainter::kSleepShade.green(),
                              GraphPainter::kSleepShade.blue(), 140),
                       tr("asleep"), this));
    top->addWidget(key(QColor(GraphPainter::kChargerShade.red(), GraphPainter::kChargerShade.green(),
                              GraphPainter::kChargerShade.blue(), 140),
                       tr("charger"), this));
    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(view_, 1);
}

void GraphPane::setRange(std::size_t index) { range_->setCurrentIndex(static_cast<int>(index)); }

void GraphPane::refresh(const HistoryReader& reader, RateUnit unit)
{
    const auto index = static_cast<std::size_t>(std::max(0, range_->currentIndex()));
    const double until = readerNow(reader);
    view_->setSource(
        [reader, unit, until, span = kGraphRanges[index].seconds] { return readGraphData(reader, until, span, unit); });
}

} // namespace drainwatch
