// SPDX-License-Identifier: MIT
#include "platform/QtRepeatingTimer.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

QtRepeatingTimer::QtRepeatingTimer(QObject* parent) : QObject(parent)
{
    // Coarse is within 5% of a 5 s tick and lets Qt group wake-ups; the
    // heartbeat allows 15 s, so a late tick is never taken for a sleep.
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        // A copy: the tick may start the timer again and replace onTick_.
        if (const auto tick = onTick_)
            tick();
    });
}

void QtRepeatingTimer::start(double intervalSeconds, std::function<void()> onTick)
{
    onTick_ = std::move(onTick);
    // An interval of 0 would spin the event loop; a tick is at least 1 ms.
    const double milliseconds = std::isfinite(intervalSeconds) ? std::round(intervalSeconds * 1000.0) : 1.0;
    timer_.start(static_cast<int>(std::clamp(milliseconds, 1.0, 2147483647.0)));
}

} // namespace drainwatch
