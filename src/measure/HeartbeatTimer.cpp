// SPDX-License-Identifier: MIT
#include "measure/HeartbeatTimer.h"

#include "log/Logger.h"

#include <cmath>

namespace drainwatch {

HeartbeatTimer::HeartbeatTimer(const Clock& clock, PreferenceStore& store, std::string prefix,
                               std::optional<double> heartbeat)
    : allowedHeartbeatTime(heartbeat), savePrefix(std::move(prefix)), clock_(clock), store_(store)
{
    startedAt = lastHeartBeat = clock_.now();
    loadData();
}

std::int64_t HeartbeatTimer::currentTimeSeconds() const
{
    const double elapsed = std::trunc(clock_.now() - startedAt);
    // A damaged store can hold anything; keep the conversion defined.
    if (!std::isfinite(elapsed) || std::fabs(elapsed) > 9.0e18)
        return 0;
    return static_cast<std::int64_t>(elapsed);
}

bool HeartbeatTimer::heartbeat()
{
    bool missed = false;
    const double gap = clock_.now() - lastHeartBeat;
    if (gap < 0) {
        // The wall clock was set back: move the start with it, so the count
        // neither shrinks nor turns negative. Not a sleep, so nothing is logged.
        startedAt += gap;
    } else if (allowedHeartbeatTime) {
        if (gap > *allowedHeartbeatTime) {
            Logger::main().debug("Missed heartbeat, last was %gs ago", gap);
            startedAt += gap;
            missed = true;
        }
    }
    lastHeartBeat = clock_.now();
    return missed;
}

void HeartbeatTimer::resetAndStart() { startedAt = lastHeartBeat = clock_.now(); }

void HeartbeatTimer::loadData()
{
    startedAt = store_.doubleForKey(savePrefix + ".startedAt");
    lastHeartBeat = store_.doubleForKey(savePrefix + ".lastHeartBeat");
}

// Nothing calls it; it puts both keys back to their empty state.
void HeartbeatTimer::removeData()
{
    store_.setDouble(0.0, savePrefix + ".startedAt");
    store_.setDouble(0.0, savePrefix + ".lastHeartBeat");
}

void HeartbeatTimer::saveData()
{
    store_.setDouble(startedAt, savePrefix + ".startedAt");
    store_.setDouble(lastHeartBeat, savePrefix + ".lastHeartBeat");
}

} // namespace drainwatch
