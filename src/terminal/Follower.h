// SPDX-License-Identifier: MIT
#pragma once

#include "terminal/FigureBlock.h"
#include "terminal/TerminalFrontEnd.h"

#include <cstdio>
#include <functional>
#include <string>

namespace drainwatch {

// A `drainwatch --json` or `--terminal` started while another monitor counts
// (the window, say): shows that monitor's figures as they come over its
// socket, in its own format, instead of counting a second time.
class Follower {
public:
    enum class End {
        MonitorEnded, // the stream ended after it had brought figures
        NothingCame,  // it ended before any
        OutputLost,   // standard output can no longer be written
    };

    Follower(std::FILE* out, TerminalFrontEnd::Format format)
        : out_(out), format_(format), block_(format == TerminalFrontEnd::Format::Redraw)
    {
    }

    // The template of Format::Template.
    void setTemplate(StatusTemplate line) { template_ = std::move(line); }
    // The terminal's width, asked before each block is drawn (a resize
    // shows at the next tick); none: no width fitting.
    std::function<int()> columns;

    // Reads the lines from fd, and closes it, until one of the ends.
    End run(int fd);

private:
    bool show(const std::string& line);

    std::FILE* out_;
    TerminalFrontEnd::Format format_;
    FigureBlock block_;
    StatusTemplate template_;
};

} // namespace drainwatch
