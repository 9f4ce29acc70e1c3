// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/CapacityView.h"
#include "history/HealthTrend.h"

#include <QWidget>

class QLabel;

namespace drainwatch {

// The battery's wear: its capacity over time and the trend in words.
class HealthPane : public QWidget {
    Q_OBJECT
public:
    explicit HealthPane(QWidget* parent = nullptr);
    void showTrend(const HealthTrend& trend);

private:
    CapacityView* view_ = nullptr;
    QLabel* lines_ = nullptr;
};

} // namespace drainwatch
