// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/GraphPainter.h"

#include <QWidget>

#include <functional>

namespace drainwatch {

// The graph in the window: reduces its data to its width once, and shows
// the time and the values under the pointer.
class GraphView : public QWidget {
    Q_OBJECT
public:
    explicit GraphView(QWidget* parent = nullptr);

    // Where the data comes from, read again at each resize: 30 days of
    // samples are not kept beside their columns.
    void setSource(std::function<GraphData()> source);
    const GraphPainter& painter() const { return painter_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void reduce();

    std::function<GraphData()> source_;
    GraphPainter painter_;
    std::optional<int> pointer_;
};

} // namespace drainwatch
