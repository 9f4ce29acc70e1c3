// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// The lid as the guard needs it. closed is empty where neither /proc nor
// logind can tell; docked is asked only of a closed lid.
struct LidState {
    std::optional<bool> closed;
    bool docked = false;
};

// One of logind's inhibitor locks (ListInhibitors).
struct Inhibitor {
    std::string what; // colon-separated: "sleep:idle", "handle-lid-switch"
    std::string who;
    std::string why;
    std::string mode; // "block" or "delay"
    std::uint32_t uid = 0;
    std::uint32_t pid = 0;

    bool holds(const std::string& kind) const;
    bool operator==(const Inhibitor&) const = default;
};

// What may hold a closed laptop awake, as logind says; empty where it
// could not be asked.
struct LidHolders {
    std::optional<std::vector<Inhibitor>> inhibitors;
    std::optional<std::string> handleLidSwitch; // "suspend", "ignore", "lock", ...
    std::optional<std::string> handleLidSwitchDocked;
    // logind's LidSwitchIgnoreInhibited: "sleep" locks do not stop the lid.
    std::optional<bool> ignoreInhibited;
};

// Where the lid is read: /proc and logind, or the simulator's.
class LidSource {
public:
    virtual ~LidSource() = default;
    // Once a tick, on battery only.
    virtual LidState read() = 0;
    // Once a spell, when the guard speaks.
    virtual LidHolders holders() = 0;
    // Asks logind to suspend now; empty when it agreed, else why not.
    virtual std::string suspend() = 0;
};

// /proc/acpi/button/lid/*/state, readable by anyone. The file is found at
// the first read and kept open: each later read is one pread.
class ProcLidReader {
public:
    explicit ProcLidReader(std::filesystem::path procDir);
    ~ProcLidReader();
    ProcLidReader(const ProcLidReader&) = delete;
    ProcLidReader& operator=(const ProcLidReader&) = delete;

    // True for "closed", false for "open"; empty without a lid file or for
    // anything else in it.
    std::optional<bool> closed();

    // DRAINWATCH_PROC_DIR, else /proc.
    static std::filesystem::path defaultProcDir();

private:
    std::filesystem::path procDir_;
    int fd_ = -1;
    // No lid under acpi/button: none comes later, so it is not looked for again.
    bool searched_ = false;
};

// "state:      closed" -> true; empty for anything but open or closed.
std::optional<bool> parseLidState(std::string_view text);

// The simulator's and the tests' lid: what was set, and how often it was read.
class MemoryLidSource final : public LidSource {
public:
    LidState read() override
    {
        ++reads;
        return state;
    }
    LidHolders holders() override { return holding; }
    std::string suspend() override
    {
        ++suspends;
        if (suspended)
            suspended();
        return suspendRefusal;
    }

    LidState state;
    LidHolders holding;
    int reads = 0;
    int suspends = 0;
    std::string suspendRefusal;
    std::function<void()> suspended;
};

} // namespace drainwatch
