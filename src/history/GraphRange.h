// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <optional>
#include <string>

namespace drainwatch {

// The spans the graph shows, back from now.
struct GraphRange {
    const char* name; // as --range takes it
    const char* label;
    double seconds;
};

inline constexpr std::array<GraphRange, 4> kGraphRanges = {{
    {"6h", "6 hours", 6 * 3600.0},
    {"24h", "24 hours", 24 * 3600.0},
    {"7d", "7 days", 7 * 86400.0},
    {"30d", "30 days", 30 * 86400.0},
}};
inline constexpr std::size_t kDefaultGraphRange = 1;

inline std::optional<GraphRange> graphRange(const std::string& name)
{
    for (const GraphRange& range : kGraphRanges)
        if (name == range.name)
            return range;
    return std::nullopt;
}

} // namespace drainwatch
