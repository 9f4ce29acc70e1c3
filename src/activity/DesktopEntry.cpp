// SPDX-License-Identifier: MIT
#include "activity/DesktopEntry.h"

#include "activity/SmallFile.h"

#include <algorithm>

namespace drainwatch {

std::string cleanName(std::string_view raw, std::size_t maxBytes)
{
    std::string clean;
    for (char c : raw) {
        auto byte = static_cast<unsigned char>(c);
        bool control = byte < 0x20 || byte == 0x7f;
        if (control || c == ' ') {
            if (!clean.empty() && clean.back() != ' ')
                clean += ' ';
            continue;
        }
        clean += c;
    }
    while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
    if (clean.size() > maxBytes) {
        std::size_t cut = maxBytes;
        // Back off continuation bytes so a character is never split.
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80)
            --cut;
        clean.resize(cut);
        while (!clean.empty() && clean.back() == ' ')
            clean.pop_back();
    }
    return clean;
}

std::string fallbackName(std::string_view desktopId)
{
    auto dot = desktopId.rfind('.');
    if (dot != std::string_view::npos && dot + 1 < desktopId.size() && desktopId.find('.') < dot)
        return cleanName(desktopId.substr(dot + 1));
    return cleanName(desktopId);
}

namespace {

// The desktop entry's escapes of string values: \s \n \t \r \\.
std::string unescapeValue(std::string_view value)
{
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        char next = value[++i];
        plain += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return plain;
}

} // namespace

DesktopEntry findDesktopEntry(const std::vector<std::filesystem::path>& dataDirs, std::string_view desktopId)
{
    for (const auto& dir : dataDirs) {
        // Without a stream: its locale and buffers would stay in the monitor's memory.
        const auto text = readSmallFile(dir / "applications" / (std::string(desktopId) + ".desktop"), 256 * 1024);
        if (!text)
            continue;
        DesktopEntry entry;
        bool inMainGroup = false;
        for (std::size_t start = 0; start < text->size();) {
            const std::size_t end = std::min(text->find('\n', start), text->size());
            const std::string line = text->substr(start, end - start);
            start = end + 1;
            if (line.starts_with('[')) {
                inMainGroup = line.starts_with("[Desktop Entry]");
                continue;
            }
            if (!inMainGroup)
                continue;
            if (line.starts_with("Name=") && entry.name.empty())
                entry.name = cleanName(unescapeValue(std::string_view(line).substr(5)));
            else if (line.starts_with("Icon=") && entry.icon.empty())
                entry.icon = cleanName(std::string_view(line).substr(5), 256);
        }
        if (entry.name.empty())
            entry.name = fallbackName(desktopId);
        return entry;
    }
    return {fallbackName(desktopId), ""};
}

} // namespace drainwatch
