// SPDX-License-Identifier: MIT
#pragma once

#include "terminal/StatusFields.h"

#include <array>
#include <string>

namespace drainwatch {

// The nine figures as a block of "caption  text" lines, the one rendering
// of the terminal front end and of a follower: redrawn in place (a
// terminal) or one block after another (a pipe or a file).
class FigureBlock {
public:
    explicit FigureBlock(bool redraw) : redraw_(redraw) {}

    // The terminal's width (0: unknown). A redrawn block fits in it, long
    // texts wrapped under themselves: a line the terminal wraps would throw
    // off the redraw in place. True when the width changed after a block was
    // shown: the next one clears the screen, as the terminal may have
    // rewrapped what it showed, and is best drawn at once.
    bool setColumns(int columns);

    // What to write for the texts, in the order of kStatusFields.
    std::string next(const std::array<std::string, kStatusFields.size()>& texts);

private:
    void fit(std::string& text, const std::string& head, const std::string& value) const;

    bool redraw_;
    int columns_ = 0;
    int blocksShown_ = 0;
    std::size_t linesShown_ = 0;
    bool redrawWhole_ = false;
};

} // namespace drainwatch
