// SPDX-License-Identifier: MIT
#include "activity/SmallFile.h"

#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch {

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text(maxBytes, '\0');
    std::size_t filled = 0;
    while (filled < maxBytes) {
        auto got = ::read(fd, text.data() + filled, maxBytes - filled);
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(filled);
    return text;
}

std::optional<double> readNumberFile(const std::filesystem::path& path)
{
    auto text = readSmallFile(path, 64);
    if (!text)
        return std::nullopt;
    double value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || !std::isfinite(value) || (stop != end && *stop != '\n' && *stop != ' '))
        return std::nullopt;
    return value;
}

} // namespace drainwatch
