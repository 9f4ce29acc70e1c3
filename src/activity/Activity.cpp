// SPDX-License-Identifier: MIT
#include "activity/Activity.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

namespace {

bool usable(std::optional<double> value) { return value && std::isfinite(*value) && *value >= 0; }

// Mean of the two reads times the interval; unknown unless both are known.
std::optional<double> meanTimes(std::optional<double> first, std::optional<double> second, double seconds)
{
    if (!usable(first) || !usable(second))
        return std::nullopt;
    return (*first + *second) / 2 * seconds;
}

} // namespace

ActivityInterval activityBetween(const ActivitySnapshot& before, const ActivitySnapshot& after)
{
    ActivityInterval interval;
    if (std::isfinite(after.time - before.time) && after.time > before.time)
        interval.seconds = after.time - before.time;

    std::optional<double> busyDelta;
    if (usable(before.busySeconds) && usable(after.busySeconds) && *after.busySeconds >= *before.busySeconds)
        busyDelta = *after.busySeconds - *before.busySeconds;

    double usesSeconds = 0;
    for (const auto& [key, counter] : after.counters) {
        if (!usable(counter.cpuSeconds))
            continue;
        double cpu = 0;
        std::optional<double> gpu;
        auto earlier = before.counters.find(key);
        if (earlier == before.counters.end()) {
            // Began after the first read: all of its time is in the interval,
            // but never more than the whole machine was busy.
            cpu = busyDelta ? std::min(*counter.cpuSeconds, *busyDelta) : *counter.cpuSeconds;
            if (usable(counter.gpuSeconds))
                gpu = interval.seconds > 0 ? std::min(*counter.gpuSeconds, interval.seconds) : *counter.gpuSeconds;
        } else {
            const auto& old = earlier->second;
            if (!usable(old.cpuSeconds) || *counter.cpuSeconds < *old.cpuSeconds)
                continue;
            cpu = *counter.cpuSeconds - *old.cpuSeconds;
            if (usable(old.gpuSeconds) && usable(counter.gpuSeconds) && *counter.gpuSeconds >= *old.gpuSeconds)
                gpu = *counter.gpuSeconds - *old.gpuSeconds;
        }
        usesSeconds += cpu;
        interval.uses.push_back({key, counter.name, counter.icon, counter.kind, cpu, gpu});
    }

    interval.cpuSeconds = busyDelta ? std::max(*busyDelta, usesSeconds) : usesSeconds;
    if (busyDelta && *busyDelta > usesSeconds)
        interval.uses.push_back({"other", "Kernel and other", "", ActivityKind::Group, *busyDelta - usesSeconds, {}});

    std::stable_sort(interval.uses.begin(), interval.uses.end(),
                     [](const ActivityUse& a, const ActivityUse& b) { return a.cpuSeconds > b.cpuSeconds; });

    interval.screenSeconds = meanTimes(before.brightness, after.brightness, interval.seconds);
    interval.gpuSeconds = meanTimes(before.gpuBusy, after.gpuBusy, interval.seconds);
    if (usable(before.networkBytes) && usable(after.networkBytes) && *after.networkBytes >= *before.networkBytes)
        interval.networkBytes = *after.networkBytes - *before.networkBytes;
    return interval;
}

} // namespace drainwatch
