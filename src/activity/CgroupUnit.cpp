// SPDX-License-Identifier: MIT
#include "activity/CgroupUnit.h"

#include <charconv>

namespace drainwatch {

namespace {

std::string unescapeUnitName(std::string_view escaped)
{
    std::string plain;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        unsigned value = 0;
        if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
            auto [end, error] = std::from_chars(escaped.data() + i + 2, escaped.data() + i + 4, value, 16);
            if (error == std::errc() && end == escaped.data() + i + 4 && value >= 0x20 && value != 0x7f) {
                plain += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        plain += escaped[i];
    }
    return plain;
}

} // namespace

std::optional<std::string> desktopIdOfUnit(std::string_view unitName)
{
    if (!unitName.starts_with("app-"))
        return std::nullopt;
    auto rest = unitName.substr(4);
    if (rest.ends_with(".scope")) {
        rest.remove_suffix(6);
        auto dash = rest.rfind('-');
        if (dash == std::string_view::npos)
            return std::nullopt;
        rest = rest.substr(0, dash);
    } else if (rest.ends_with(".service")) {
        rest.remove_suffix(8);
        rest = rest.substr(0, rest.find('@'));
    } else if (rest.ends_with(".slice")) {
        rest.remove_suffix(6);
    } else {
        return std::nullopt;
    }
    if (auto dash = rest.find('-'); dash != std::string_view::npos)
        rest = rest.substr(dash + 1);
    if (rest.empty())
        return std::nullopt;
    return unescapeUnitName(rest);
}

std::optional<double> usageSecondsFromCpuStat(std::string_view text)
{
    constexpr std::string_view key = "usage_usec ";
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        auto line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (line.starts_with(key)) {
            unsigned long long usec = 0;
            auto value = line.substr(key.size());
            auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), usec);
            if (error != std::errc() || stop != value.data() + value.size())
                return std::nullopt;
            return static_cast<double>(usec) / 1e6;
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return std::nullopt;
}

} // namespace drainwatch
