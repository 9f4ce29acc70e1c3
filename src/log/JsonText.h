// SPDX-License-Identifier: MIT
#pragma once

#include <cmath>
#include <optional>
#include <string>

#include <fmt/format.h>

namespace drainwatch {

// JSON written by hand for the few flat objects Drainwatch prints: a quoted,
// escaped string.
inline std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += fmt::format("\\{}", static_cast<char>(c));
        else if (c < 0x20)
            out += fmt::format("\\u{:04x}", c);
        else
            out += static_cast<char>(c);
    }
    return out + '"';
}

// Shortest form that reads back exactly; never a nan or an inf, which JSON lacks.
inline std::string jsonNumber(const std::optional<double>& value)
{
    return value && std::isfinite(*value) ? fmt::format("{}", *value) : "null";
}

} // namespace drainwatch
