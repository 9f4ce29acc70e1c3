// SPDX-License-Identifier: MIT
#include "battery/SysfsSupply.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include <fcntl.h>
#include <unistd.h>

namespace drainwatch::sysfs {

namespace {

// Longer than any value sysfs prints for these attributes.
constexpr std::size_t kLongestValue = 127;

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// One open, one read, one close: a tick should cost little more than the
// values it reads. O_NONBLOCK keeps a FIFO from hanging the reader; a folder
// fails the read with EISDIR. `error` is errno of the open, 0 otherwise.
std::optional<std::string> readValue(const std::string& path, int& error)
{
    error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    char buffer[kLongestValue + 1];
    ssize_t count;
    do
        count = ::read(fd, buffer, sizeof buffer);
    while (count < 0 && errno == EINTR);
    ::close(fd);
    // Failed (sysfs gives EIO or ENODATA at times), empty, or too long to be a value.
    if (count <= 0 || static_cast<std::size_t>(count) > kLongestValue)
        return std::nullopt;
    std::string_view value(buffer, static_cast<std::size_t>(count));
    while (!value.empty() && isSpace(value.back()))
        value.remove_suffix(1);
    while (!value.empty() && isSpace(value.front()))
        value.remove_prefix(1);
    if (value.empty())
        return std::nullopt;
    return std::string(value);
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> positive(std::optional<std::int64_t> value)
{
    if (!value || *value <= 0)
        return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> notNegative(std::optional<std::int64_t> value)
{
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<std::string> Supply::text(std::string_view attribute)
{
    if (std::find(absent.begin(), absent.end(), attribute) != absent.end())
        return std::nullopt;
    int error = 0;
    auto value = readValue(folder + std::string(attribute), error);
    if (error == ENOENT || error == ENOTDIR) {
        // Either the driver lacks the attribute, or the supply itself is gone.
        if (::access(folder.c_str(), F_OK) == 0)
            absent.push_back(attribute);
        else
            gone = true;
    }
    return value;
}

std::optional<std::int64_t> Supply::number(std::string_view attribute)
{
    const auto value = text(attribute);
    return value ? parseInteger(*value) : std::nullopt;
}

std::optional<Status> Supply::status()
{
    const auto value = text("status");
    if (!value)
        return std::nullopt;
    if (*value == "Charging")
        return Status::Charging;
    if (*value == "Discharging")
        return Status::Discharging;
    if (*value == "Full")
        return Status::Full;
    if (*value == "Not charging")
        return Status::NotCharging;
    return Status::Unknown;
}

std::optional<double> chargeLimit(Supply& battery)
{
    const auto limit = battery.number("charge_control_end_threshold");
    if (!limit || *limit <= 0 || *limit >= 100)
        return std::nullopt;
    return static_cast<double>(*limit);
}

bool Supply::has(const char* attribute) const { return ::access((folder + attribute).c_str(), F_OK) == 0; }

} // namespace drainwatch::sysfs
