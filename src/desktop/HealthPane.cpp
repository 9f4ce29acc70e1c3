// SPDX-License-Identifier: MIT
#include "desktop/HealthPane.h"

#include <QLabel>
#include <QVBoxLayout>

namespace drainwatch {

HealthPane::HealthPane(QWidget* parent) : QWidget(parent)
{
    view_ = new CapacityView(this);
    lines_ = new QLabel(this);
    lines_->setObjectName("healthTrendLabel");
    lines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines_->setWordWrap(true);
    auto* column = new QVBoxLayout(this);
    column->addWidget(lines_);
    column->addWidget(view_, 1);
    showTrend({});
}

void HealthPane::showTrend(const HealthTrend& trend)
{
    QStringList text;
    for (const std::string& line : trend.lines())
        text << QString::fromStdString(line);
    lines_->setText(text.join('\n'));
    view_->setPoints(trend.points);
}

} // namespace drainwatch
