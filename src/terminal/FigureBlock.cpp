// SPDX-License-Identifier: MIT
#include "terminal/FigureBlock.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace drainwatch {

namespace {

std::size_t widestCaption()
{
    std::size_t widest = 0;
    for (const StatusField& field : kStatusFields)
        widest = std::max(widest, std::strlen(field.caption));
    return widest;
}

// In characters, not bytes: a UTF-8 continuation byte adds none.
std::size_t displayLength(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// The first `length` characters of `text`, and what is left.
std::pair<std::string_view, std::string_view> split(std::string_view text, std::size_t length)
{
    std::size_t at = 0;
    for (std::size_t counted = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xc0) == 0x80)
            continue;
        if (counted++ == length)
            break;
    }
    return {text.substr(0, at), text.substr(at)};
}

// Narrower than this beside the captions, a text is cut at the edge instead
// of wrapped word by word into a column too thin to read.
constexpr std::size_t kNarrowestColumn = 12;

} // namespace

bool FigureBlock::setColumns(int columns)
{
    columns = std::max(columns, 0);
    if (columns == columns_)
        return false;
    columns_ = columns;
    if (!redraw_ || blocksShown_ == 0)
        return false;
    redrawWhole_ = true;
    return true;
}

// Appends the lines of one figure, each ending in a line end.
void FigureBlock::fit(std::string& text, const std::string& head, const std::string& value) const
{
    const auto columns = static_cast<std::size_t>(columns_);
    const std::size_t indent = displayLength(head);
    if (!redraw_ || columns == 0 || indent + displayLength(value) <= columns) {
        text += head + value + '\n';
        return;
    }
    if (columns < indent + kNarrowestColumn) {
        text += std::string(split(head + value, columns).first) + '\n';
        return;
    }
    const std::size_t room = columns - indent;
    std::string_view rest = value;
    std::string line;
    bool first = true;
    const auto flush = [&] {
        text += (first ? head : std::string(indent, ' ')) + line + '\n';
        line.clear();
        first = false;
    };
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        std::string_view word = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        while (displayLength(word) > room) {
            if (!line.empty())
                flush();
            const auto [piece, left] = split(word, room);
            line = piece;
            flush();
            word = left;
        }
        if (word.empty())
            continue;
        if (!line.empty() && displayLength(line) + 1 + displayLength(word) > room)
            flush();
        line += (line.empty() ? "" : " ") + std::string(word);
    }
    if (!line.empty() || first)
        flush();
}

std::string FigureBlock::next(const std::array<std::string, kStatusFields.size()>& texts)
{
    const std::size_t width = widestCaption();
    std::string lines;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        fit(lines, fmt::format("{:>{}}  ", kStatusFields[i].caption, width), texts[i]);

    std::string text;
    if (redraw_ && redrawWhole_)
        text += "\x1b[H\x1b[J";
    else if (redraw_ && blocksShown_ > 0)
        text += fmt::format("\x1b[{}A", linesShown_);
    else if (!redraw_ && blocksShown_ > 0)
        text += '\n';
    redrawWhole_ = false;
    linesShown_ = 0;
    for (std::size_t start = 0; start < lines.size(); ++linesShown_) {
        const std::size_t end = lines.find('\n', start) + 1;
        if (redraw_)
            text += "\r\x1b[2K";
        text += lines.substr(start, end - start);
        start = end;
    }
    // A block shorter than the last leaves none of it behind.
    if (redraw_)
        text += "\x1b[J";
    ++blocksShown_;
    return text;
}

} // namespace drainwatch
