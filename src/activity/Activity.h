// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// What uses the processors: an application, or one of the groups that are
// not ("System services", "Desktop session", "Kernel and other").
enum class ActivityKind { App, Group };

// One application's counters at one read: they only rise while the
// application lives, and count its processes that have exited.
struct ActivityCounter {
    std::string name; // shown: "Firefox", "System services"
    std::string icon; // Icon= of its .desktop file; "" for none
    ActivityKind kind = ActivityKind::App;
    std::optional<double> cpuSeconds; // core-seconds since it began; unknown where unreadable
    std::optional<double> gpuSeconds; // engine-busy seconds of its own, where readable
};

// One read of the machine's activity, without root. Counters are keyed by
// something that names the same application at the next read (a unit's
// name, "exe:NAME", a group's own key) and no other. "Kernel and other" is
// not among them: it is what busySeconds leaves, made by activityBetween.
struct ActivitySnapshot {
    double time = 0; // wall clock, seconds since 1970
    std::map<std::string, ActivityCounter> counters;
    std::optional<double> busySeconds;  // core-seconds every CPU was busy since boot (/proc/stat)
    std::optional<double> brightness;   // 0..1 of the internal panel's backlight, 0 while the panel is off
    std::optional<double> gpuBusy;      // 0..1, the whole GPU, at the read
    std::optional<double> networkBytes; // received and sent, all interfaces but loopback, since boot
};

// Reads the machine's activity: the real one from /sys and /proc, the
// simulator's from its script. A few hundred small reads: once a minute,
// never in an ordinary tick.
class ActivitySource {
public:
    virtual ~ActivitySource() = default;
    virtual ActivitySnapshot read() = 0;
};

// One application's use between two reads.
struct ActivityUse {
    std::string key;
    std::string name;
    std::string icon;
    ActivityKind kind = ActivityKind::App;
    double cpuSeconds = 0;
    std::optional<double> gpuSeconds;
};

// What the machine did between two reads: never negative, each application
// once. A counter that fell, vanished or was unreadable counts nothing; one
// new since the first read counts from zero. The busy time no counter
// explains is the use "Kernel and other" (key "other", a Group).
struct ActivityInterval {
    double seconds = 0;
    std::vector<ActivityUse> uses;       // the applications and groups, largest CPU first
    double cpuSeconds = 0;               // all of it: at least the sum of uses
    std::optional<double> screenSeconds; // brightness × seconds, the mean of the two reads
    std::optional<double> gpuSeconds;    // the whole GPU's busy seconds, the mean of the two reads
    std::optional<double> networkBytes;
};

ActivityInterval activityBetween(const ActivitySnapshot& before, const ActivitySnapshot& after);

} // namespace drainwatch
