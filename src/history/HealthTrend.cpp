// SPDX-License-Identifier: MIT
#include "history/HealthTrend.h"

#include <cmath>
#include <ctime>

#include <fmt/format.h>

namespace drainwatch {

namespace {

constexpr double kDay = 86400;
constexpr double kYear = 365.25 * kDay;
constexpr double kMostYears = 100;

// The slope of the least-squares line through (x, y); empty where x does
// not vary.
std::optional<double> slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const auto n = static_cast<double>(x.size());
    if (x.size() < 2)
        return std::nullopt;
    double meanX = 0, meanY = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        meanX += x[i] / n;
        meanY += y[i] / n;
    }
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - meanX) * (y[i] - meanY);
        sxx += (x[i] - meanX) * (x[i] - meanX);
    }
    if (!(sxx > 0))
        return std::nullopt;
    const double result = sxy / sxx;
    return std::isfinite(result) ? std::optional(result) : std::nullopt;
}

std::optional<double> percentOfDesign(const CapacityPoint& point)
{
    if (!point.designMAh || !(*point.designMAh > 0))
        return std::nullopt;
    return point.fullMAh / *point.designMAh * 100;
}

std::string dateText(double time)
{
    const auto seconds = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return "-";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0)
        return "-";
    return text;
}

} // namespace

void addCapacityPoint(std::vector<CapacityPoint>& points, const HistorySample& sample)
{
    if (!sample.fullMAh || !(*sample.fullMAh > 0) || !std::isfinite(*sample.fullMAh) || !std::isfinite(sample.time))
        return;
    const CapacityPoint point{sample.time, *sample.fullMAh, sample.designMAh, sample.cycles};
    if (!points.empty() && std::floor(points.back().time / kDay) == std::floor(sample.time / kDay))
        points.back() = point;
    else
        points.push_back(point);
}

HealthTrend healthTrend(const std::vector<HistorySample>& samples)
{
    std::vector<CapacityPoint> points;
    for (const HistorySample& sample : samples)
        addCapacityPoint(points, sample);
    return healthTrend(std::move(points));
}

HealthTrend healthTrend(std::vector<CapacityPoint> points)
{
    HealthTrend trend;
    trend.points = std::move(points);
    if (trend.points.empty())
        return trend;
    const CapacityPoint& last = trend.points.back();
    trend.spanDays = (last.time - trend.points.front().time) / kDay;
    trend.capacityPercent = percentOfDesign(last);
    for (const CapacityPoint& point : trend.points)
        if (point.cycles)
            trend.cycles = point.cycles;
    if (!trend.enoughData() || !trend.capacityPercent)
        return trend;

    std::vector<double> years, cycles, percentByTime, percentByCycles;
    for (const CapacityPoint& point : trend.points) {
        const auto percent = percentOfDesign(point);
        if (!percent)
            continue;
        years.push_back((point.time - last.time) / kYear);
        percentByTime.push_back(*percent);
        if (point.cycles) {
            cycles.push_back(static_cast<double>(*point.cycles));
            percentByCycles.push_back(*percent);
        }
    }
    if (const auto perYear = slope(years, percentByTime))
        trend.wearPerYear = -*perYear;
    if (const auto perCycle = slope(cycles, percentByCycles))
        trend.wearPer100Cycles = -*perCycle * 100;
    // A wear too slow to matter gives no date (nor a time past what a
    // time_t holds).
    if (trend.wearPerYear && *trend.wearPerYear > 0 && *trend.capacityPercent > 80)
        if (const double years = (*trend.capacityPercent - 80) / *trend.wearPerYear; years <= kMostYears)
            trend.eightyPercentAt = last.time + years * kYear;
    return trend;
}

bool HealthTrend::enoughData() const { return spanDays >= kTrendDays; }

std::vector<std::string> HealthTrend::lines() const
{
    if (points.empty())
        return {"No full-charge capacity recorded yet."};
    std::vector<std::string> out;
    const CapacityPoint& last = points.back();
    if (capacityPercent)
        out.push_back(fmt::format("Full charge {:.0f} mAh of {:.0f} mAh design: {:.1f}%", last.fullMAh, *last.designMAh,
                                  *capacityPercent));
    else
        out.push_back(
            fmt::format("Full charge {:.0f} mAh; the battery gives no design capacity to compare with", last.fullMAh));
    out.push_back(cycles ? fmt::format("Cycle count: {}", *cycles) : "The battery gives no cycle count");
    if (!enoughData()) {
        out.push_back(fmt::format("The pace of wear needs {:.0f} days of history; there are {:.0f} so far.", kTrendDays,
                                  std::floor(spanDays)));
        return out;
    }
    if (!capacityPercent)
        return out;
    if (wearPerYear)
        out.push_back(*wearPerYear > 0 ? fmt::format("Wear: {:.1f} points a year", *wearPerYear)
                                       : "Wear: none measured; the capacity has not fallen");
    if (wearPer100Cycles && *wearPer100Cycles > 0)
        out.push_back(fmt::format("Wear: {:.1f} points per 100 cycles", *wearPer100Cycles));
    if (*capacityPercent <= 80)
        out.push_back("The capacity is at or below 80% of design.");
    else if (eightyPercentAt)
        out.push_back("At this pace 80% of design is reached about " + dateText(*eightyPercentAt));
    else if (wearPerYear && *wearPerYear > 0)
        out.push_back(fmt::format("At this pace 80% of design is more than {:.0f} years away", kMostYears));
    return out;
}

} // namespace drainwatch
