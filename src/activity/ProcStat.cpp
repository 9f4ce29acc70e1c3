// SPDX-License-Identifier: MIT
#include "activity/ProcStat.h"

#include "activity/SmallFile.h"

#include <array>
#include <charconv>
#include <string>
#include <unistd.h>

namespace drainwatch {

std::optional<double> busySecondsFromStat(std::string_view statText, long ticksPerSecond)
{
    if (ticksPerSecond <= 0 || !statText.starts_with("cpu "))
        return std::nullopt;
    auto line = statText.substr(4, statText.find('\n') == std::string_view::npos ? std::string_view::npos
                                                                                 : statText.find('\n') - 4);
    // user nice system idle iowait irq softirq steal
    std::array<unsigned long long, 8> ticks{};
    const char* at = line.data();
    const char* end = line.data() + line.size();
    for (auto& field : ticks) {
        while (at < end && *at == ' ')
            ++at;
        auto [next, error] = std::from_chars(at, end, field);
        if (error != std::errc())
            return std::nullopt;
        at = next;
    }
    unsigned long long busy = ticks[0] + ticks[1] + ticks[2] + ticks[5] + ticks[6] + ticks[7];
    return static_cast<double>(busy) / static_cast<double>(ticksPerSecond);
}

std::optional<double> readBusySeconds(const std::filesystem::path& procDir)
{
    // The first line is all that is needed: the sum of every CPU.
    const auto text = readSmallFile(procDir / "stat", 1024);
    if (!text)
        return std::nullopt;
    return busySecondsFromStat(text->substr(0, text->find('\n')), sysconf(_SC_CLK_TCK));
}

} // namespace drainwatch
