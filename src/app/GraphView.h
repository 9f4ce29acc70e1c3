#pragma once

#include "app/GraphPainter.h"

#include <QWidget>

namespace drainwatch {

// The graph in the window: reduces its data to its width once, and shows
// the time and the values under the pointer.
class GraphView : public QWidget {
    Q_OBJECT
public:
    explicit GraphView(QWidget* parent = nullptr);

    void setData(GraphData data);
    const GraphPainter& painter() const { return painter_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    GraphData data_;
    GraphPainter painter_;
    std::optional<int> pointer_;
};

} // namespace drainwatch
