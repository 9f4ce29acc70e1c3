// SPDX-License-Identifier: MIT
#include "desktop/CapacityView.h"

#include "desktop/GraphPainter.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace drainwatch {

CapacityView::CapacityView(QWidget* parent) : QWidget(parent)
{
    setObjectName("capacityView");
    setMinimumSize(300, 140);
}

void CapacityView::setPoints(std::vector<CapacityPoint> points)
{
    points_ = std::move(points);
    update();
}

void CapacityView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    const QRect plot = rect().adjusted(50, 10, -12, -22);
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    if (points_.empty() || plot.width() <= 0)
        return;
    const bool design = std::all_of(points_.begin(), points_.end(),
                                    [](const CapacityPoint& p) { return p.designMAh && *p.designMAh > 0; });
    const auto value = [&](const CapacityPoint& p) { return design ? p.fullMAh / *p.designMAh * 100 : p.fullMAh; };
    double low = value(points_.front()), high = low;
    for (const CapacityPoint& p : points_) {
        low = std::min(low, value(p));
        high = std::max(high, value(p));
    }
    if (design) {
        low = std::min(low, 75.0);
        high = std::max(high, 100.0);
    } else {
        low *= 0.95;
        high *= 1.02;
    }
    const double first = points_.front().time, span = std::max(1.0, points_.back().time - first);
    const auto x = [&](double t) { return plot.left() + (t - first) / span * (plot.width() - 1); };
    const auto y = [&](double v) { return plot.bottom() - (v - low) / (high - low) * (plot.height() - 1); };

    painter.setPen(colours.color(QPalette::Text));
    const auto label = [&](double v, const QString& text) {
        painter.drawText(QRectF(0, y(v) - 9, plot.left() - 4, 18), Qt::AlignRight | Qt::AlignVCenter, text);
    };
    label(high, design ? QStringLiteral("%1%").arg(high, 0, 'f', 0) : QStringLiteral("%1").arg(high, 0, 'f', 0));
    label(low, design ? QStringLiteral("%1%").arg(low, 0, 'f', 0) : QStringLiteral("%1").arg(low, 0, 'f', 0));
    const auto when = [](double t) {
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t)).toString(QStringLiteral("yyyy-MM-dd"));
    };
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), 20), Qt::AlignLeft | Qt::AlignVCenter,
                     when(first));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), 20), Qt::AlignRight | Qt::AlignVCenter,
                     when(points_.back().time));
    if (design)
        for (const double line : {100.0, 80.0}) {
            painter.setPen(QPen(line == 80 ? QColor(200, 60, 40) : colours.color(QPalette::Mid), 0, Qt::DashLine));
            painter.drawLine(QPointF(plot.left(), y(line)), QPointF(plot.right(), y(line)));
            label(line, QStringLiteral("%1%").arg(line, 0, 'f', 0));
        }
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.moveTo(x(points_.front().time), y(value(points_.front())));
    for (const CapacityPoint& p : points_)
        path.lineTo(x(p.time), y(value(p)));
    painter.setPen(QPen(GraphPainter::kChargeLine, 1.8));
    painter.drawPath(path);
}

} // namespace drainwatch
