// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"
#include "measure/PreferenceStore.h"

#include <cstdint>
#include <optional>
#include <string>

namespace drainwatch {

// Wall-clock seconds since a start, with every gap between two heartbeats
// longer than the allowance cut out (a suspend, or the program not running).
// Start and last heartbeat persist, so one interval spans several runs.
class HeartbeatTimer {
public:
    HeartbeatTimer(const Clock& clock, PreferenceStore& store, std::string savePrefix, std::optional<double> heartbeat);

    // Whole seconds since startedAt, truncated toward zero; not clamped.
    std::int64_t currentTimeSeconds() const;
    void loadData();
    // True when the gap since the last heartbeat exceeded the allowance; the
    // gap is then already cut out and logged.
    bool heartbeat();
    void resetAndStart();
    void removeData();
    void saveData();

    const std::optional<double> allowedHeartbeatTime;
    std::string savePrefix;
    double startedAt = 0.0;
    double lastHeartBeat = 0.0;

private:
    const Clock& clock_;
    PreferenceStore& store_;
};

} // namespace drainwatch
