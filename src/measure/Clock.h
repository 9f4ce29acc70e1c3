#pragma once

#include <chrono>

namespace drainwatch {

// Seconds since 1970-01-01 UTC, fractional. A wall clock: setting the system
// time, or a suspend, moves it; that is what the heartbeat is built on.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class SystemClock final : public Clock {
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
};

} // namespace drainwatch
