// SPDX-License-Identifier: MIT
#include "log/UserHome.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace drainwatch {

std::optional<std::filesystem::path> userHome()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir == '/')
        return found->pw_dir;
    return std::nullopt;
}

std::optional<std::filesystem::path> configHome()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    if (const auto home = userHome())
        return *home / ".config";
    return std::nullopt;
}

} // namespace drainwatch
