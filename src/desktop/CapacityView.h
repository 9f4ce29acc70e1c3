// SPDX-License-Identifier: MIT
#pragma once

#include "history/HealthTrend.h"

#include <QWidget>

namespace drainwatch {

// The full-charge capacity over time, in percent of design (in mAh where the
// battery gives no design capacity), with the design's 100 % and 80 % lines.
class CapacityView : public QWidget {
    Q_OBJECT
public:
    explicit CapacityView(QWidget* parent = nullptr);
    void setPoints(std::vector<CapacityPoint> points);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<CapacityPoint> points_;
};

} // namespace drainwatch
