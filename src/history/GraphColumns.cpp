// SPDX-License-Identifier: MIT
#include "history/GraphColumns.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

std::vector<TimeSpan> sleepSpans(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& recorded)
{
    std::vector<TimeSpan> spans;
    for (const TimeSpan& span : recorded)
        if (std::isfinite(span.start) && std::isfinite(span.end) && span.end > span.start)
            spans.push_back(span);
    for (std::size_t i = 0; i + 1 < samples.size(); ++i)
        if (samples[i].event == "will sleep" && samples[i + 1].time > samples[i].time)
            spans.push_back({samples[i].time, samples[i + 1].time});
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& a, const TimeSpan& b) { return a.start < b.start; });
    // A sleep is in both the records and the samples' events.
    std::vector<TimeSpan> merged;
    for (const TimeSpan& span : spans) {
        if (!merged.empty() && span.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, span.end);
        else
            merged.push_back(span);
    }
    return merged;
}

std::optional<double> sampleRate(const HistorySample& sample, RateUnit unit)
{
    if (sample.onExternalPower || !sample.currentMA || !std::isfinite(*sample.currentMA))
        return std::nullopt;
    double rate = 0;
    if (unit == RateUnit::PercentPerHour) {
        if (!sample.fullMAh || !(*sample.fullMAh > 0))
            return std::nullopt;
        rate = *sample.currentMA / *sample.fullMAh * 100;
    } else {
        if (!sample.volts)
            return std::nullopt;
        rate = *sample.currentMA * *sample.volts / 1000;
    }
    if (!std::isfinite(rate))
        return std::nullopt;
    return rate;
}

namespace {

// The columns a span [start, end) touches, as a half-open range.
struct ColumnRange {
    int first = 0;
    int end = 0;
};

class Grid {
public:
    Grid(double since, double until, int columns) : since_(since), width_((until - since) / columns), columns_(columns)
    {
    }

    ColumnRange span(double start, double end) const
    {
        const double first = std::floor((start - since_) / width_);
        const double last = std::ceil((end - since_) / width_);
        return {static_cast<int>(std::clamp(first, 0.0, double(columns_))),
                static_cast<int>(std::clamp(last, 0.0, double(columns_)))};
    }
    std::optional<int> at(double time) const
    {
        const double column = std::floor((time - since_) / width_);
        if (!(column >= 0 && column < columns_))
            return std::nullopt;
        return static_cast<int>(column);
    }

private:
    double since_;
    double width_;
    int columns_;
};

} // namespace

std::vector<GraphColumn> graphColumns(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& sleeps,
                                      double since, double until, int columns, RateUnit unit)
{
    if (columns <= 0 || !std::isfinite(since) || !std::isfinite(until) || !(until > since))
        return {};
    const Grid grid(since, until, columns);
    std::vector<GraphColumn> out(static_cast<std::size_t>(columns));
    std::vector<char> covered(out.size(), 0);
    std::vector<double> rateSum(out.size(), 0);
    std::vector<int> rateCount(out.size(), 0);

    const auto mark = [&](ColumnRange range, bool charging) {
        for (int c = range.first; c < range.end; ++c) {
            covered[static_cast<std::size_t>(c)] = 1;
            out[static_cast<std::size_t>(c)].charging |= charging;
        }
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const HistorySample& sample = samples[i];
        if (i + 1 < samples.size()) {
            const double next = samples[i + 1].time;
            if (next - sample.time <= kGapSeconds && next > since && sample.time < until)
                mark(grid.span(sample.time, next), sample.onExternalPower);
        }
        const auto column = grid.at(sample.time);
        if (!column)
            continue;
        GraphColumn& cell = out[static_cast<std::size_t>(*column)];
        mark({*column, *column + 1}, sample.onExternalPower);
        if (std::isfinite(sample.charge)) {
            cell.minCharge = std::min(cell.minCharge.value_or(sample.charge), sample.charge);
            cell.maxCharge = std::max(cell.maxCharge.value_or(sample.charge), sample.charge);
            cell.lastCharge = sample.charge;
        }
        if (const auto rate = sampleRate(sample, unit)) {
            rateSum[static_cast<std::size_t>(*column)] += *rate;
            ++rateCount[static_cast<std::size_t>(*column)];
        }
    }
    for (const TimeSpan& sleep : sleeps) {
        if (sleep.end <= since || sleep.start >= until)
            continue;
        const ColumnRange range = grid.span(sleep.start, sleep.end);
        for (int c = range.first; c < range.end; ++c)
            out[static_cast<std::size_t>(c)].asleep = true;
    }
    for (std::size_t c = 0; c < out.size(); ++c) {
        if (rateCount[c] > 0)
            out[c].rate = rateSum[c] / rateCount[c];
        out[c].gap = !covered[c] && !out[c].asleep;
    }
    return out;
}

} // namespace drainwatch
