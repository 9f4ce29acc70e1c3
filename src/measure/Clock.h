// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <ctime>

namespace drainwatch {

// Seconds since 1970-01-01 UTC, fractional. A wall clock: setting the system
// time, or a suspend, moves it; that is what the heartbeat is built on.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    // Seconds the machine has spent suspended since it booted: it grows by
    // exactly the time asleep, whatever the wall clock does. A clock that
    // models no suspend keeps it at 0.
    virtual double suspendedSeconds() const { return 0; }
};

class SystemClock final : public Clock {
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    // CLOCK_BOOTTIME counts suspend, CLOCK_MONOTONIC does not; both are read
    // in the vDSO, without a system call.
    double suspendedSeconds() const override
    {
        timespec boot{};
        timespec monotonic{};
        ::clock_gettime(CLOCK_BOOTTIME, &boot);
        ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
        const double suspended = static_cast<double>(boot.tv_sec - monotonic.tv_sec) +
                                 static_cast<double>(boot.tv_nsec - monotonic.tv_nsec) * 1e-9;
        // The second read comes a little later: never below 0.
        return suspended > 0 ? suspended : 0;
    }
};

} // namespace drainwatch
