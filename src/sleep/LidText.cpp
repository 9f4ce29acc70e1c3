// SPDX-License-Identifier: MIT
#include "sleep/LidText.h"

#include "sleep/SleepText.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// Names and reasons come from other programs: one line each.
std::string oneLine(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return text;
}

std::string blockedBy(const std::vector<Inhibitor>& inhibitors, const char* kind)
{
    std::string text;
    for (const Inhibitor& lock : inhibitors) {
        if (lock.mode != "block" || !lock.holds(kind))
            continue;
        const std::string who = lock.who.empty() ? "an unnamed program" : oneLine(lock.who);
        text += (text.empty() ? "blocked by " : ", ") + who + (lock.why.empty() ? "" : ": " + oneLine(lock.why));
    }
    return text;
}

} // namespace

std::string lidAwakeReason(const LidHolders& holders, bool suspendFailed)
{
    // logind's own setting first: with it no lock matters.
    if (holders.handleLidSwitch && *holders.handleLidSwitch != "suspend" &&
        *holders.handleLidSwitch != "suspend-then-hibernate" && *holders.handleLidSwitch != "hibernate" &&
        *holders.handleLidSwitch != "hybrid-sleep" && *holders.handleLidSwitch != "sleep")
        return "the lid switch is set to " + oneLine(*holders.handleLidSwitch);
    if (suspendFailed)
        return "suspend failed (see Sleeps)";
    if (!holders.inhibitors)
        return "logind could not be asked why";
    // A handle-lid-switch lock always stops logind (a desktop takes one to
    // handle the lid itself, and may honour sleep locks); a sleep lock stops
    // logind only where LidSwitchIgnoreInhibited is off (unknown: it may).
    const std::string lidLocks = blockedBy(*holders.inhibitors, "handle-lid-switch");
    if (holders.ignoreInhibited != true || !lidLocks.empty())
        if (std::string sleepLocks = blockedBy(*holders.inhibitors, "sleep"); !sleepLocks.empty())
            return sleepLocks;
    if (!lidLocks.empty())
        return lidLocks;
    return "nothing logind knows of holds it";
}

LidNotice lidNotice(const std::string& reason, double usedPercentage, double seconds)
{
    LidNotice notice;
    notice.summary = "Awake with the lid closed for " + sleepDurationText(seconds);
    std::string cause = reason;
    if (!cause.empty())
        cause[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cause[0])));
    notice.body = cause + ".";
    if (std::isfinite(usedPercentage) && std::isfinite(seconds) && seconds > 0) {
        notice.body += fmt::format("\n{:.1f}% of the battery used since the lid closed", std::max(0.0, usedPercentage));
        if (usedPercentage > 0)
            notice.body += fmt::format(", {:.1f}% an hour", usedPercentage / (seconds / 3600));
        notice.body += ".";
    }
    return notice;
}

std::string inhibitorsText(const LidHolders& holders, const LidState& lid)
{
    std::string text;
    if (!holders.inhibitors) {
        text = "Inhibitors: unknown (logind could not be asked)\n";
    } else if (holders.inhibitors->empty()) {
        text = "Inhibitors: none\n";
    } else {
        constexpr const char* kRow = "{:<20}  {:<32}  {:<24}  {:<5}  {:>6}  {:>7}\n";
        text = fmt::format(fmt::runtime(kRow), "who", "why", "what", "mode", "uid", "pid");
        for (const Inhibitor& lock : *holders.inhibitors)
            text += fmt::format(fmt::runtime(kRow), oneLine(lock.who), oneLine(lock.why), oneLine(lock.what),
                                oneLine(lock.mode), lock.uid, lock.pid);
    }
    const auto word = [](const std::optional<std::string>& value) { return value ? oneLine(*value) : "unknown"; };
    text += "\nLid: ";
    text += lid.closed ? (*lid.closed ? "closed" : "open") : "unknown";
    text += lid.docked ? ", docked\n" : ", not docked\n";
    text += "Closing the lid: " + word(holders.handleLidSwitch) + " (docked: " + word(holders.handleLidSwitchDocked) +
            ")\n";
    text += "Sleep locks stop the lid: ";
    text += holders.ignoreInhibited ? (*holders.ignoreInhibited ? "no" : "yes") : "unknown";
    text += " (handle-lid-switch locks always do)\n";
    return text;
}

} // namespace drainwatch
