// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace drainwatch {

// What an application is called and drawn with.
struct DesktopEntry {
    std::string name;
    std::string icon;
};

// A name from the machine made safe to show on one line: control
// characters and newlines become spaces, runs of spaces one, at most
// maxBytes (cut on a UTF-8 boundary). Markup stays: escaping is the
// display's job.
std::string cleanName(std::string_view raw, std::size_t maxBytes = 64);

// For an ID without a .desktop file: the last dotted part of a reverse-DNS
// ID ("org.gnome.Nautilus" → "Nautilus"), else the ID itself.
std::string fallbackName(std::string_view desktopId);

// Name= and Icon= of the [Desktop Entry] group (unlocalized) of
// applications/ID.desktop in the first of dataDirs that has it; the
// fallback name and no icon where none has.
DesktopEntry findDesktopEntry(const std::vector<std::filesystem::path>& dataDirs, std::string_view desktopId);

} // namespace drainwatch
