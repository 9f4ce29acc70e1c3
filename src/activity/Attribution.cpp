// SPDX-License-Identifier: MIT
#include "activity/Attribution.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {
namespace {

void addKnown(std::optional<double>& total, const std::optional<double>& part)
{
    if (part && std::isfinite(*part))
        total = total.value_or(0) + *part;
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0; }

} // namespace

std::vector<EnergyRow> attribute(const PowerModel& model, const SpanActivity& span)
{
    std::vector<EnergyRow> rows;
    if (!model.determined() || !model.cpuW)
        return rows;
    const double cpuW = *model.cpuW;
    double ownGpuSeconds = 0;
    for (const ActivityUse& use : span.uses) {
        EnergyRow row{use.key, use.name, use.icon, EnergyKind::App, 0, 0, finiteOrZero(use.cpuSeconds)};
        row.energyWh = cpuW * row.cpuSeconds / 3600;
        if (model.gpuW && use.gpuSeconds && std::isfinite(*use.gpuSeconds)) {
            row.energyWh += *model.gpuW * *use.gpuSeconds / 3600;
            ownGpuSeconds += *use.gpuSeconds;
        }
        rows.push_back(row);
    }
    double otherWh = 0;
    if (model.netW && span.networkBytes && std::isfinite(*span.networkBytes))
        otherWh += *model.netW * *span.networkBytes / 1e6;
    if (model.gpuW && span.gpuSeconds && std::isfinite(*span.gpuSeconds))
        otherWh += *model.gpuW * std::max(0.0, *span.gpuSeconds - ownGpuSeconds) / 3600;
    if (otherWh > 0) {
        auto other = std::find_if(rows.begin(), rows.end(), [](const EnergyRow& r) { return r.key == "other"; });
        if (other == rows.end()) {
            rows.push_back(EnergyRow{"other", "Kernel and other", "", EnergyKind::App, 0, 0, 0});
            other = rows.end() - 1;
        }
        other->energyWh += otherWh;
    }
    // An app that used nothing is noise in the list.
    std::erase_if(rows, [](const EnergyRow& r) { return r.energyWh == 0; });
    std::sort(rows.begin(), rows.end(), [](const EnergyRow& a, const EnergyRow& b) {
        return a.energyWh != b.energyWh ? a.energyWh > b.energyWh : a.name < b.name;
    });
    if (model.screenW && span.screenSeconds && std::isfinite(*span.screenSeconds))
        rows.push_back(
            EnergyRow{"screen", "Screen", "", EnergyKind::Screen, *model.screenW * *span.screenSeconds / 3600, 0, 0});
    rows.push_back(
        EnergyRow{"base", "Base", "", EnergyKind::Base, *model.baseW * finiteOrZero(span.seconds) / 3600, 0, 0});
    const double measuredWh = finiteOrZero(span.measuredWh);
    double explainedWh = 0;
    for (const EnergyRow& r : rows)
        explainedWh += r.energyWh;
    rows.push_back(
        EnergyRow{"unexplained", "Unexplained", "", EnergyKind::Unexplained, measuredWh - explainedWh, 0, 0});
    for (EnergyRow& r : rows)
        r.share = measuredWh > 0 ? r.energyWh / measuredWh : 0;
    return rows;
}

const char* energyKindName(EnergyKind kind)
{
    switch (kind) {
    case EnergyKind::App:
        return "app";
    case EnergyKind::Screen:
        return "screen";
    case EnergyKind::Base:
        return "base";
    case EnergyKind::Unexplained:
        return "unexplained";
    }
    return "app";
}

void addInterval(SpanActivity& span, const ActivityInterval& interval, double measuredWh)
{
    span.seconds += finiteOrZero(interval.seconds);
    span.measuredWh += finiteOrZero(measuredWh);
    span.cpuSeconds += finiteOrZero(interval.cpuSeconds);
    addKnown(span.screenSeconds, interval.screenSeconds);
    addKnown(span.gpuSeconds, interval.gpuSeconds);
    addKnown(span.networkBytes, interval.networkBytes);
    for (const ActivityUse& use : interval.uses) {
        auto it =
            std::find_if(span.uses.begin(), span.uses.end(), [&](const ActivityUse& u) { return u.key == use.key; });
        if (it == span.uses.end()) {
            span.uses.push_back(use);
            span.uses.back().cpuSeconds = finiteOrZero(use.cpuSeconds);
            continue;
        }
        it->name = use.name;
        it->icon = use.icon;
        it->kind = use.kind;
        it->cpuSeconds += finiteOrZero(use.cpuSeconds);
        addKnown(it->gpuSeconds, use.gpuSeconds);
    }
}

} // namespace drainwatch
