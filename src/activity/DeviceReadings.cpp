// SPDX-License-Identifier: MIT
#include "activity/DeviceReadings.h"

#include "activity/SmallFile.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace drainwatch {

namespace {

std::string firstWord(const std::filesystem::path& path)
{
    auto text = readSmallFile(path, 64);
    if (!text)
        return {};
    return text->substr(0, text->find_first_of(" \n"));
}

int typeRank(const std::string& type)
{
    if (type == "firmware")
        return 3;
    if (type == "platform")
        return 2;
    if (type == "raw")
        return 1;
    return 0;
}

bool panelOff(const std::filesystem::path& sysDir)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysDir / "class/drm", error)) {
        auto name = entry.path().filename().string();
        if (!name.starts_with("card") || name.find("-eDP-") == std::string::npos)
            continue;
        if (firstWord(entry.path() / "dpms") == "Off" || firstWord(entry.path() / "enabled") == "disabled")
            return true;
    }
    return false;
}

} // namespace

std::optional<double> readBrightness(const std::filesystem::path& sysDir)
{
    std::optional<double> best;
    int bestRank = -1;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysDir / "class/backlight", error)) {
        int rank = typeRank(firstWord(entry.path() / "type"));
        if (rank <= bestRank)
            continue;
        auto brightness = readNumberFile(entry.path() / "brightness");
        auto maximum = readNumberFile(entry.path() / "max_brightness");
        if (!brightness || !maximum || *maximum <= 0 || *brightness < 0)
            continue;
        auto power = readNumberFile(entry.path() / "bl_power");
        best = (power && *power != 0) ? 0.0 : std::min(*brightness / *maximum, 1.0);
        bestRank = rank;
    }
    if (best && panelOff(sysDir))
        return 0.0;
    return best;
}

std::optional<double> readGpuBusy(const std::filesystem::path& sysDir)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysDir / "class/drm", error)) {
        auto name = entry.path().filename().string();
        if (!name.starts_with("card") || name.find('-') != std::string::npos)
            continue;
        auto percent = readNumberFile(entry.path() / "device/gpu_busy_percent");
        if (percent && *percent >= 0)
            return std::min(*percent / 100, 1.0);
    }
    return std::nullopt;
}

std::optional<double> readNetworkBytes(const std::filesystem::path& sysDir)
{
    std::optional<double> total;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysDir / "class/net", error)) {
        if (entry.path().filename() == "lo")
            continue;
        auto received = readNumberFile(entry.path() / "statistics/rx_bytes");
        auto sent = readNumberFile(entry.path() / "statistics/tx_bytes");
        if (!received || !sent || *received < 0 || *sent < 0)
            continue;
        total = total.value_or(0) + *received + *sent;
    }
    return total;
}

} // namespace drainwatch
