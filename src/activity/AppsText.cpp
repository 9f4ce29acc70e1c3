// SPDX-License-Identifier: MIT
#include "activity/AppsText.h"

#include "history/HistoryText.h"
#include "log/JsonText.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace drainwatch {

namespace {

struct ShownRow {
    std::string name;
    const char* kind;
    std::optional<double> energyWh;
    std::optional<double> share;
    std::optional<double> meanW;
    double cpuSeconds;
};

std::vector<ShownRow> shownRows(const PowerModel& model, const SpanActivity& span)
{
    std::vector<ShownRow> shown;
    const double hours = span.seconds / 3600;
    const auto rows = attribute(model, span);
    if (rows.empty()) {
        for (const ActivityUse& use : span.uses)
            if (use.cpuSeconds > 0)
                shown.push_back({use.name, "app", std::nullopt, std::nullopt, std::nullopt, use.cpuSeconds});
        return shown;
    }
    for (const EnergyRow& row : rows)
        shown.push_back({row.name, energyKindName(row.kind), row.energyWh, row.share,
                         hours > 0 ? std::optional<double>(row.energyWh / hours) : std::nullopt, row.cpuSeconds});
    return shown;
}

std::string figure(const std::optional<double>& value, const char* format)
{
    return value && std::isfinite(*value) ? fmt::format(fmt::runtime(format), *value) : std::string("—");
}

std::string cpuTime(double seconds)
{
    const auto whole = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
}

// Rounded for the eye and for the CSV alike: the last bits of a fit mean nothing.
std::optional<double> roundedTo(const std::optional<double>& value, double step)
{
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    const double r = std::round(*value / step) * step;
    return r == 0 ? 0.0 : r;
}

} // namespace

std::string printableName(const std::string& name)
{
    std::string clean;
    std::size_t characters = 0;
    for (const char byte : name) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c == 0x7f)
            continue;
        // Count characters, not bytes: UTF-8 continuation bytes do not start one.
        if ((c & 0xc0) != 0x80 && ++characters > 40)
            break;
        clean += byte;
    }
    return clean.empty() ? std::string("(no name)") : clean;
}

std::string appsTable(const PowerModel& model, const SpanActivity& span)
{
    std::string text =
        fmt::format("{:<40}  {:>8}  {:>6}  {:>7}  {:>10}\n", "Application", "Wh", "share", "mean W", "CPU time");
    for (const ShownRow& row : shownRows(model, span)) {
        const std::string name = printableName(row.name);
        // Pad by characters: {:<40} counts bytes.
        std::size_t characters = 0;
        for (unsigned char c : name)
            characters += (c & 0xc0) != 0x80;
        text += name + std::string(characters < 40 ? 40 - characters : 0, ' ');
        text += fmt::format("  {:>8}  {:>6}  {:>7}  {:>10}\n", figure(row.energyWh, "{:.2f}"),
                            figure(row.share ? std::optional<double>(*row.share * 100) : std::nullopt, "{:.1f}%"),
                            figure(row.meanW, "{:.2f}"),
                            std::string(row.kind) == "app" ? cpuTime(row.cpuSeconds) : std::string());
    }
    text += fmt::format("Measured: {:.2f} Wh in {} awake on battery.\n", span.measuredWh, cpuTime(span.seconds));
    text += modelQualityText(model) + '\n';
    return text;
}

std::string appsJsonLines(const PowerModel& model, const SpanActivity& span)
{
    std::string text;
    for (const ShownRow& row : shownRows(model, span))
        text += fmt::format(R"({{"name":{},"kind":"{}","energyWh":{},"share":{},"meanW":{},"cpuSeconds":{}}})",
                            jsonString(row.name), row.kind, jsonNumber(roundedTo(row.energyWh, 1e-4)),
                            jsonNumber(roundedTo(row.share, 1e-4)), jsonNumber(roundedTo(row.meanW, 1e-3)),
                            jsonNumber(roundedTo(row.cpuSeconds, 0.1))) +
                '\n';
    return text;
}

std::string appsCsv(const PowerModel& model, const SpanActivity& span)
{
    const auto number = [](const std::optional<double>& value) {
        return value ? fmt::format("{}", *value) : std::string();
    };
    std::string text = "name,kind,energy_wh,share,mean_w,cpu_seconds\n";
    for (const ShownRow& row : shownRows(model, span))
        text += fmt::format("{},{},{},{},{},{}\n", csvField(row.name), row.kind, number(roundedTo(row.energyWh, 1e-4)),
                            number(roundedTo(row.share, 1e-4)), number(roundedTo(row.meanW, 1e-3)),
                            number(roundedTo(row.cpuSeconds, 0.1)));
    return text;
}

std::vector<std::string> largestApplications(const PowerModel& model, const SpanActivity& span, std::size_t count)
{
    std::vector<ShownRow> apps;
    for (ShownRow& row : shownRows(model, span))
        if (std::string(row.kind) == "app" && row.cpuSeconds > 0)
            apps.push_back(std::move(row));
    // The energy rows come largest first; the learning ones in the span's order.
    if (!apps.empty() && !apps.front().energyWh)
        std::stable_sort(apps.begin(), apps.end(),
                         [](const ShownRow& a, const ShownRow& b) { return a.cpuSeconds > b.cpuSeconds; });
    std::vector<std::string> names;
    for (const ShownRow& row : apps) {
        if (names.size() == count)
            break;
        names.push_back(printableName(row.name));
    }
    return names;
}

std::string topApplication(const PowerModel& model, const SpanActivity& span)
{
    for (const ShownRow& row : shownRows(model, span))
        if (std::string(row.kind) == "app" && row.cpuSeconds > 0)
            return printableName(row.name);
    return {};
}

} // namespace drainwatch
