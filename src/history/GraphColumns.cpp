// SPDX-License-Identifier: MIT
#include "history/GraphColumns.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

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

// Finite, non-empty spans, merged, oldest first: a sleep is in both the
// records and the samples' events.
std::vector<TimeSpan> merged(std::vector<TimeSpan> spans)
{
    spans.erase(std::remove_if(spans.begin(), spans.end(),
                               [](const TimeSpan& span) {
                                   return !std::isfinite(span.start) || !std::isfinite(span.end) ||
                                          !(span.end > span.start);
                               }),
                spans.end());
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& a, const TimeSpan& b) { return a.start < b.start; });
    std::vector<TimeSpan> out;
    for (const TimeSpan& span : spans) {
        if (!out.empty() && span.start <= out.back().end)
            out.back().end = std::max(out.back().end, span.end);
        else
            out.push_back(span);
    }
    return out;
}

} // namespace

ColumnReducer::ColumnReducer(double since, double until, int columns, RateUnit unit)
    : since_(since), until_(until), unit_(unit)
{
    if (columns <= 0 || !std::isfinite(since) || !std::isfinite(until) || !(until > since))
        return;
    width_ = (until - since) / columns;
    const auto count = static_cast<std::size_t>(columns);
    out_.resize(count);
    covered_.resize(count, 0);
    rateSum_.resize(count, 0);
    rateCount_.resize(count, 0);
}

std::optional<int> ColumnReducer::columnAt(double time) const
{
    const double column = std::floor((time - since_) / width_);
    if (!(column >= 0 && column < double(out_.size())))
        return std::nullopt;
    return static_cast<int>(column);
}

ColumnReducer::Touched ColumnReducer::touched(double start, double end) const
{
    const double columns = double(out_.size());
    return {static_cast<std::size_t>(std::clamp(std::floor((start - since_) / width_), 0.0, columns)),
            static_cast<std::size_t>(std::clamp(std::ceil((end - since_) / width_), 0.0, columns))};
}

void ColumnReducer::cover(double start, double end, bool charging)
{
    const auto [first, last] = touched(start, end);
    for (std::size_t c = first; c < last; ++c) {
        covered_[c] = 1;
        out_[c].charging |= charging;
    }
}

void ColumnReducer::add(const HistorySample& sample)
{
    if (out_.empty())
        return;
    // A sample stands for the time up to the next one.
    if (previous_) {
        if (sample.time - previous_->time <= kGapSeconds && sample.time > since_ && previous_->time < until_)
            cover(previous_->time, sample.time, previous_->onExternalPower);
        if (previous_->willSleep && sample.time > previous_->time)
            sleeps_.push_back({previous_->time, sample.time});
    }
    previous_ = Previous{sample.time, sample.onExternalPower, sample.event == "will sleep"};
    const auto column = columnAt(sample.time);
    if (!column)
        return;
    const auto c = static_cast<std::size_t>(*column);
    GraphColumn& cell = out_[c];
    covered_[c] = 1;
    cell.charging |= sample.onExternalPower;
    if (std::isfinite(sample.charge)) {
        cell.minCharge = std::min(cell.minCharge.value_or(sample.charge), sample.charge);
        cell.maxCharge = std::max(cell.maxCharge.value_or(sample.charge), sample.charge);
        cell.lastCharge = sample.charge;
    }
    if (const auto rate = sampleRate(sample, unit_)) {
        rateSum_[c] += *rate;
        ++rateCount_[c];
    }
}

std::vector<GraphColumn> ColumnReducer::columns(const std::vector<TimeSpan>& recorded)
{
    if (out_.empty())
        return {};
    sleeps_.insert(sleeps_.end(), recorded.begin(), recorded.end());
    for (const TimeSpan& sleep : merged(std::move(sleeps_))) {
        if (sleep.end <= since_ || sleep.start >= until_)
            continue;
        const auto [first, last] = touched(sleep.start, sleep.end);
        for (std::size_t c = first; c < last; ++c)
            out_[c].asleep = true;
    }
    sleeps_.clear();
    for (std::size_t c = 0; c < out_.size(); ++c) {
        if (rateCount_[c] > 0)
            out_[c].rate = rateSum_[c] / rateCount_[c];
        out_[c].gap = !covered_[c] && !out_[c].asleep;
    }
    return std::move(out_);
}

std::vector<GraphColumn> graphColumns(const std::vector<HistorySample>& samples, const std::vector<TimeSpan>& sleeps,
                                      double since, double until, int columns, RateUnit unit)
{
    ColumnReducer reducer(since, until, columns, unit);
    for (const HistorySample& sample : samples)
        reducer.add(sample);
    return reducer.columns(sleeps);
}

} // namespace drainwatch
