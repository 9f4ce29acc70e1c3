// SPDX-License-Identifier: MIT
#include "desktop/GraphView.h"

#include <QMouseEvent>
#include <QPainter>

namespace drainwatch {

GraphView::GraphView(QWidget* parent) : QWidget(parent)
{
    setObjectName("graphView");
    setMouseTracking(true);
    setMinimumSize(360, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void GraphView::setSource(std::function<GraphData()> source)
{
    source_ = std::move(source);
    reduce();
    update();
}

void GraphView::reduce() { painter_.reduce(source_ ? source_() : GraphData(), rect()); }

void GraphView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    reduce();
}

void GraphView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter_.paint(painter, rect());
    if (pointer_)
        painter_.paintPointer(painter, *pointer_);
}

void GraphView::mouseMoveEvent(QMouseEvent* event)
{
    pointer_ = static_cast<int>(event->position().x());
    update();
}

void GraphView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    pointer_.reset();
    update();
}

} // namespace drainwatch
