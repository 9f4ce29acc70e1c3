// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/ViewController.h"
#include "terminal/FigureBlock.h"
#include "terminal/HealthInWh.h"
#include "terminal/StatusBar.h"
#include "terminal/StatusFields.h"

#include <array>
#include <cstdio>
#include <functional>
#include <string>

namespace drainwatch {

// The monitor without a window: the nine texts written to a stream after
// every refresh, as a block redrawn in place (a terminal), a block per tick
// (a pipe or a file), or a JSON object per line (status bars). Written with
// stdio: iostreams would set up the C++ locale machinery and add to the
// terminal's resident memory.
class TerminalFrontEnd {
public:
    enum class Format { Redraw, Blocks, Json, Waybar, Template };

    // Connects the controller's text outlets; construct before start().
    TerminalFrontEnd(ViewController& controller, std::FILE* out, Format format);

    // Loads the monitor and shows the first figures at once.
    void start();
    // The orderly end; the close of the window it stands for comes first, so
    // that the log reads as it does for the desktop.
    void stop();

    // Called when the stream can no longer be written (the reader went away).
    std::function<void()> outputLost;

    // One JSON object, without the line end.
    std::string jsonLine() const;
    // What a status bar line is made of (Waybar, Template), the health as
    // the terminal shows it.
    StatusBarFigures statusBarFigures();
    // The template of Format::Template.
    void setTemplate(StatusTemplate line) { template_ = std::move(line); }

    // The terminal's width (0: unknown), as FigureBlock fits to it; after a
    // change the screen is drawn anew.
    void setColumns(int columns);
    // Health in Wh for a battery that counts in energy; not in JSON, whose
    // texts are the monitor's own.
    void setEnergyReader(HealthInWh::Reader reader) { health_ = HealthInWh(std::move(reader)); }

private:
    struct Field final : TextField {
        void setText(const std::string& value) override { text = value; }
        std::string text;
    };

    void render();
    std::string block();

    ViewController& controller_;
    std::FILE* out_;
    Format format_;
    std::array<Field, kStatusFields.size()> fields_;
    bool muted_ = false;
    FigureBlock block_;
    HealthInWh health_;
    bool stopped_ = false;
    StatusTemplate template_;
};

// The JSON object of --json, without the line end: the nine texts, in the
// order of kStatusFields, and the controller's figures.
std::string statusJsonLine(const std::array<std::string, kStatusFields.size()>& texts,
                           const ViewController& controller);

} // namespace drainwatch
