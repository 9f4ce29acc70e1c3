// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/MonitorServices.h"

#include <QObject>
#include <QTimer>

namespace drainwatch {

// The monitor's tick on the Qt event loop of the thread that owns it.
class QtRepeatingTimer final : public QObject, public RepeatingTimer {
    Q_OBJECT
public:
    explicit QtRepeatingTimer(QObject* parent = nullptr);

    // Starting again replaces the interval and the callback.
    void start(double intervalSeconds, std::function<void()> onTick) override;
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }
    int intervalMilliseconds() const { return timer_.interval(); }

private:
    QTimer timer_;
    std::function<void()> onTick_;
};

} // namespace drainwatch
