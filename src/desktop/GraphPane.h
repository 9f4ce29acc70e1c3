// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/GraphView.h"
#include "desktop/HistoryReader.h"

#include <QWidget>

class QComboBox;

namespace drainwatch {

// The graph tab: the range to show and the graph of it.
class GraphPane : public QWidget {
    Q_OBJECT
public:
    explicit GraphPane(QWidget* parent = nullptr);

    // Reads the chosen range back from the reader's now.
    void refresh(const HistoryReader& reader, RateUnit unit);
    void setRange(std::size_t index);
    GraphView& view() { return *view_; }

signals:
    void rangeChanged();

private:
    QComboBox* range_ = nullptr;
    GraphView* view_ = nullptr;
};

} // namespace drainwatch
