// SPDX-License-Identifier: MIT
#include "history/HistoryText.h"

#include "history/LocalTime.h"

#include <cmath>
#include <optional>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// The shortest text that reads back as the same double.
std::string number(const std::optional<double>& value)
{
    return value && std::isfinite(*value) ? fmt::format("{}", *value) : std::string();
}

std::string line(const std::vector<std::string>& fields)
{
    std::string text;
    for (const auto& field : fields)
        text += (text.empty() ? "" : ",") + csvField(field);
    return text + '\n';
}

std::string duration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e12)
        return "-";
    const auto minutes = static_cast<long long>(seconds / 60);
    return fmt::format("{:02}:{:02}", minutes / 60, minutes % 60);
}

std::string percent(double fraction)
{
    return std::isfinite(fraction) ? fmt::format("{:.1f}%", fraction * 100) : std::string("-");
}

} // namespace

std::string csvField(const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

std::string samplesCsvHeader()
{
    return line(
        {"time", "charge", "current_ma", "on_external_power", "volts", "full_mah", "design_mah", "cycles", "event"});
}

std::string sampleCsvLine(const HistorySample& s)
{
    return line({isoLocalTime(s.time), number(s.charge), number(s.currentMA), s.onExternalPower ? "true" : "false",
                 number(s.volts), number(s.fullMAh), number(s.designMAh),
                 s.cycles ? std::to_string(*s.cycles) : std::string(), s.event});
}

std::string dischargesCsv(const std::vector<DischargeRecord>& discharges)
{
    std::string text =
        line({"start", "end", "awake_seconds", "total_seconds", "charge_at_start", "charge_at_end", "used_in_sleep",
              "extrapolated_seconds", "extrapolated_without_sleep_seconds", "average_ma"});
    for (const DischargeRecord& d : discharges)
        text += line({isoLocalTime(d.start), isoLocalTime(d.end), number(d.awakeSeconds), number(d.totalSeconds),
                      number(d.chargeAtStart), number(d.chargeAtEnd), number(d.usedInSleep),
                      number(d.extrapolatedSeconds), number(d.extrapolatedWithoutSleepSeconds), number(d.averageMA)});
    return text;
}

std::string dischargesTable(const std::vector<DischargeRecord>& discharges)
{
    if (discharges.empty())
        return {};
    const auto row = [](const std::string& ended, const std::string& awake, const std::string& total,
                        const std::string& from, const std::string& to, const std::string& sleep,
                        const std::string& extrapolated, const std::string& awakeOnly, const std::string& average) {
        return fmt::format("{:<16}  {:>6}  {:>6}  {:>6}  {:>6}  {:>8}  {:>12}  {:>13}  {:>8}\n", ended, awake, total,
                           from, to, sleep, extrapolated, awakeOnly, average);
    };
    std::string text =
        row("Ended", "Awake", "Total", "From", "To", "In sleep", "Extrapolated", "Without sleep", "Average");
    for (const DischargeRecord& d : discharges)
        text += row(shortLocalTime(d.end), duration(d.awakeSeconds), duration(d.totalSeconds), percent(d.chargeAtStart),
                    percent(d.chargeAtEnd), percent(d.usedInSleep), duration(d.extrapolatedSeconds),
                    duration(d.extrapolatedWithoutSleepSeconds),
                    std::isfinite(d.averageMA) ? fmt::format("{:.0f} mA", d.averageMA) : std::string("-"));
    return text;
}

} // namespace drainwatch
