// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace drainwatch {

// The first maxBytes of a /sys or /proc file, one open and read: these are
// read by the thousand, where a stream's buffers and locale would cost more
// than the read. Empty where it cannot be read.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes = 4096);

// The first whitespace-ended word of such a file, as a number.
std::optional<double> readNumberFile(const std::filesystem::path& path);

} // namespace drainwatch
