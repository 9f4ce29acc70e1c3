// SPDX-License-Identifier: MIT
#include "sleep/SleepText.h"

#include "sleep/WakeSourceNames.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>

#include <fmt/format.h>

namespace drainwatch {

namespace {

std::string orDash(const std::optional<double>& value, const char* format)
{
    return value && std::isfinite(*value) ? fmt::format(fmt::runtime(format), *value) : "-";
}

std::string percentOrDash(const std::optional<double>& fraction)
{
    return fraction && std::isfinite(*fraction) ? fmt::format("{:.0f}%", *fraction * 100) : "-";
}

std::string joined(const std::vector<std::string>& values, const char* separator)
{
    std::string text;
    for (const auto& value : values)
        text += (text.empty() ? "" : separator) + value;
    return text;
}

std::string localTime(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12)
        return "-";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!::localtime_r(&t, &local))
        return "-";
    char text[32];
    // Nothing written leaves the buffer undefined.
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return "-";
    return text;
}

std::optional<double> medianOf(const std::vector<SleepRecord>& records, std::optional<double> SleepRecord::*field)
{
    std::vector<double> values;
    for (const SleepRecord& r : records)
        if (const auto& v = r.*field; v && std::isfinite(*v))
            values.push_back(*v);
    return median(values);
}

std::string wakeText(const std::vector<std::string>& ids, const std::filesystem::path& sysRoot, const char* separator)
{
    std::vector<std::string> names;
    for (const auto& id : ids)
        names.push_back(wakeSourceText(id, sysRoot));
    return joined(names, separator);
}

// One thing to try, where the record points at it: the failed device first,
// then what woke a sleep that drained or woke often, then a shallow sleep.
std::optional<std::string> nextStep(const SleepRecord& r, const std::filesystem::path& sysRoot)
{
    if (r.hasFlag("failed") && r.failedDevice)
        return "Next: the kernel's log of this boot (journalctl -k) says why " + *r.failedDevice +
               " failed to suspend; a newer kernel or firmware for it may help.";
    if ((r.hasFlag("restless") || r.hasFlag("high drain")) && r.wokenBy)
        for (const auto& id : *r.wokenBy) {
            const WakeSourceName name = wakeSourceName(id, sysRoot);
            if (!name.wakeup)
                continue;
            if (*name.wakeup == "/proc/acpi/wakeup")
                return "Next: if the " + name.words +
                       " should not wake it, turn it off in /proc/acpi/wakeup (as root).";
            return "Next: if the " + name.words + " should not wake it, write disabled to " + *name.wakeup +
                   " (as root).";
        }
    if (r.hasFlag("shallow"))
        return std::string("Next: with 1 in /sys/power/pm_debug_messages (as root) the kernel's log names what kept "
                           "the hardware awake at the next sleep.");
    return std::nullopt;
}

std::string modeText(const std::optional<std::string>& mode) { return mode.value_or("unknown"); }

// A row without flags ends in the padding of the column before.
std::string trimmedLine(std::string line)
{
    while (line.size() > 1 && line[line.size() - 2] == ' ')
        line.erase(line.size() - 2, 1);
    return line;
}

} // namespace

std::optional<double> sleepSeconds(const SleepRecord& record)
{
    if (record.how == "not running" || record.how == "lid closed")
        return record.end - record.start;
    return record.asleepSeconds;
}

std::string sleepDurationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return "-";
    if (seconds < 60)
        return fmt::format("{:.0f} s", std::floor(seconds));
    const auto minutes = static_cast<long long>(seconds / 60);
    if (minutes < 60)
        return fmt::format("{} min", minutes);
    return fmt::format("{} h {:02} min", minutes / 60, minutes % 60);
}

std::string sleepTable(const std::vector<SleepRecord>& records, const std::filesystem::path& sysRoot)
{
    if (records.empty())
        return "";
    constexpr const char* kRow = "{:<16}  {:>12}  {:<11}  {:<7}  {:>6}  {:>6}  {:>6}  {:>8}  {:<30}  {}\n";
    const std::string header = fmt::format(fmt::runtime(kRow), "start", "how long", "how", "mode", "used", "%/h", "mW",
                                           "hw sleep", "woken by", "flags");
    const auto row = [&](const SleepRecord& r) {
        const auto seconds = sleepSeconds(r);
        return trimmedLine(
            fmt::format(fmt::runtime(kRow), localTime(r.start), seconds ? sleepDurationText(*seconds) : "-", r.how,
                        r.how == "lid closed" ? "awake" : modeText(r.mode), fmt::format("{:.1f}%", r.usedPercentage),
                        orDash(r.ratePerHour, "{:.2f}"), orDash(r.milliwatts, "{:.0f}"), percentOrDash(r.hardwareSleep),
                        r.heldBy                           ? *r.heldBy
                        : r.wokenBy && !r.wokenBy->empty() ? wakeText(*r.wokenBy, sysRoot, ",")
                                                           : "-",
                        joined(r.flags, ", ")));
    };
    std::string watched;
    std::string notRunning;
    std::string lidClosed;
    std::map<std::string, std::vector<SleepRecord>> byMode;
    for (const SleepRecord& r : records) {
        // The gaps while Drainwatch did not run are mostly its own quits and
        // restarts: kept, but not sleeps to sum up.
        if (r.how == "not running") {
            notRunning += row(r);
            continue;
        }
        // Awake, not asleep: apart, and out of the sleeps' medians.
        if (r.how == "lid closed") {
            lidClosed += row(r);
            continue;
        }
        watched += row(r);
        byMode[modeText(r.mode)].push_back(r);
    }
    std::string text;
    if (!watched.empty()) {
        text = header + watched;
        constexpr const char* kSummary = "{:<8}  {:>6}  {:>10}  {:>9}  {:>15}\n";
        text +=
            '\n' + fmt::format(fmt::runtime(kSummary), "mode", "sleeps", "median %/h", "median mW", "median hw sleep");
        for (const auto& [mode, group] : byMode)
            text += fmt::format(fmt::runtime(kSummary), mode, group.size(),
                                orDash(medianOf(group, &SleepRecord::ratePerHour), "{:.2f}"),
                                orDash(medianOf(group, &SleepRecord::milliwatts), "{:.0f}"),
                                percentOrDash(medianOf(group, &SleepRecord::hardwareSleep)));
    }
    if (!lidClosed.empty())
        text += (text.empty() ? "" : "\n") + std::string("Awake with the lid closed:\n") +
                fmt::format(fmt::runtime(kRow), "start", "how long", "how", "mode", "used", "%/h", "mW", "hw sleep",
                            "held by", "flags") +
                lidClosed;
    if (!notRunning.empty())
        text += (text.empty() ? "" : "\n") + std::string("While Drainwatch was not running:\n") + header + notRunning;
    return text;
}

std::string lastSleepLine(const SleepRecord& r)
{
    const auto seconds = sleepSeconds(r);
    std::string text = "Last sleep: " + (seconds ? sleepDurationText(*seconds) : std::string("-"));
    if (r.mode)
        text += " in " + *r.mode;
    text += fmt::format(", {:.1f}% used", r.usedPercentage);
    if (r.ratePerHour && std::isfinite(*r.ratePerHour))
        text += fmt::format(", {:.2f} %/h", *r.ratePerHour);
    if (r.milliwatts && std::isfinite(*r.milliwatts))
        text += fmt::format(", {:.0f} mW", *r.milliwatts);
    if (!r.flags.empty())
        text += " (" + joined(r.flags, ", ") + ")";
    // One line, whatever a text read from /sys brings along.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string sleepForecastLine(double charge, std::optional<double> usualRatePerHour)
{
    if (!usualRatePerHour || !(*usualRatePerHour > 0) || !std::isfinite(*usualRatePerHour) || !std::isfinite(charge) ||
        charge < 0)
        return "";
    const double hours = charge * 100 / *usualRatePerHour;
    return fmt::format("Asleep, {:.1f}% would last {} at the usual {:.2f} %/h", charge * 100,
                       sleepDurationText(hours * 3600), *usualRatePerHour);
}

std::optional<SleepNotice> sleepNotice(const SleepRecord& r, std::optional<double> usualRatePerHour,
                                       const std::filesystem::path& sysRoot)
{
    std::vector<std::string> lines;
    if (r.hasFlag("high drain") && r.ratePerHour) {
        if (usualRatePerHour && std::isfinite(*usualRatePerHour))
            lines.push_back(
                fmt::format("The battery drained {:.1f}% an hour, more than twice the usual {:.1f}% an hour "
                            "of this laptop's sleeps.",
                            *r.ratePerHour, *usualRatePerHour));
        else
            lines.push_back(fmt::format(
                "The battery drained {:.1f}% an hour, more than a laptop should while it sleeps.", *r.ratePerHour));
    }
    if (r.hasFlag("shallow") && r.hardwareSleep)
        lines.push_back(fmt::format("The hardware was in its deepest sleep only {:.0f}% of the time: something kept it "
                                    "partly awake.",
                                    *r.hardwareSleep * 100));
    if (r.hasFlag("failed") && r.failed) {
        std::string line = *r.failed == 1 ? std::string("One attempt to sleep failed")
                                          : fmt::format("{} attempts to sleep failed", *r.failed);
        if (r.failedDevice)
            line += ", last because of the device " + *r.failedDevice;
        else if (r.failedStep) {
            std::string step = *r.failedStep;
            std::replace(step.begin(), step.end(), '_', ' ');
            line += ", last in the " + step + " step";
        }
        lines.push_back(line + ".");
    }
    if (r.hasFlag("restless") && r.cycles)
        lines.push_back(fmt::format("It woke {} times and went back to sleep.", *r.cycles - 1));
    if (lines.empty())
        return std::nullopt;
    if (r.wokenBy && !r.wokenBy->empty())
        lines.push_back("Woken by " + wakeText(*r.wokenBy, sysRoot, ", ") + ".");
    if (const auto step = nextStep(r, sysRoot))
        lines.push_back(*step);
    const auto seconds = sleepSeconds(r);
    SleepNotice notice;
    notice.summary = fmt::format("Sleep of {} used {:.1f}% of the battery", seconds ? sleepDurationText(*seconds) : "-",
                                 r.usedPercentage);
    notice.body = joined(lines, "\n");
    return notice;
}

} // namespace drainwatch
