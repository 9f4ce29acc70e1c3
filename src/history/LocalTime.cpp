// SPDX-License-Identifier: MIT
#include "history/LocalTime.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// Years 1..9999 only: ISO 8601 without a sign, and no time_t overflow.
constexpr double kEarliest = -62135596800.0;
constexpr double kLatest = 253402300799.0;

std::optional<std::tm> localTm(double time)
{
    if (!std::isfinite(time) || time < kEarliest || time > kLatest)
        return std::nullopt;
    const auto seconds = static_cast<std::time_t>(std::floor(time));
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return std::nullopt;
    return local;
}

} // namespace

std::string isoLocalTime(double time)
{
    const auto local = localTm(time);
    if (!local)
        return {};
    const long offset = local->tm_gmtoff;
    const long minutes = std::labs(offset) / 60;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}{:02}:{:02}", local->tm_year + 1900, local->tm_mon + 1,
                       local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec, offset < 0 ? '-' : '+',
                       minutes / 60, minutes % 60);
}

std::string shortLocalTime(double time)
{
    const auto local = localTm(time);
    if (!local)
        return {};
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}", local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                       local->tm_hour, local->tm_min);
}

std::optional<double> localDayStart(const std::string& date, int daysLater)
{
    const auto digits = [&](std::size_t from, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (date[i] < '0' || date[i] > '9')
                return std::nullopt;
            value = value * 10 + (date[i] - '0');
        }
        return value;
    };
    if (date.size() != 10 || date[4] != '-' || date[7] != '-')
        return std::nullopt;
    const auto year = digits(0, 4);
    const auto month = digits(5, 2);
    const auto day = digits(8, 2);
    if (!year || !month || !day || *year < 1 || *month < 1 || *month > 12 || *day < 1)
        return std::nullopt;
    std::tm wanted{};
    wanted.tm_year = *year - 1900;
    wanted.tm_mon = *month - 1;
    wanted.tm_mday = *day;
    wanted.tm_isdst = -1;
    std::tm checked = wanted;
    // mktime moves a 30 February on to March: such a day is not one. -1 is
    // a time it cannot give (midnight is never the second before 1970).
    if (std::mktime(&checked) == -1 || checked.tm_mday != *day || checked.tm_mon != *month - 1)
        return std::nullopt;
    wanted.tm_mday += daysLater;
    const std::time_t start = std::mktime(&wanted);
    if (start == -1)
        return std::nullopt;
    return static_cast<double>(start);
}

} // namespace drainwatch
