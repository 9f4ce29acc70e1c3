// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>

namespace drainwatch {

// The user's home folder: $HOME when it is an absolute path, else the one the
// password database names. Empty when neither is known; never /tmp, where
// another user could have put a file of their choosing first.
std::optional<std::filesystem::path> userHome();

// $XDG_CONFIG_HOME when it is an absolute path (the XDG rules ignore a
// relative one), else ~/.config; empty without a home.
std::optional<std::filesystem::path> configHome();

} // namespace drainwatch
