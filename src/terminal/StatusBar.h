// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/ViewController.h"
#include "sleep/SleepRecord.h"
#include "terminal/StatusFields.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// What a status bar is given after a tick: the nine texts as the terminal
// shows them and the figures behind them.
struct StatusBarFigures {
    std::array<std::string, kStatusFields.size()> texts;
    MonitorFigures figures; // charge empty without a battery
    bool pluggedIn = false;
    double volts = 0;
    std::optional<SleepRecord> lastSleep; // empty before the first sleep
    std::string topApp;                   // of the last ten minutes awake on battery; "" for none

    // From a line of --json, as a status bar that follows another monitor
    // gets it over that monitor's socket.
    static StatusBarFigures fromJson(const std::string& line);

    const std::string& text(TextField* ViewController::*member) const;
    // "74%", "12.3 %/h", "8.9 W": the figures as a bar shows them; "-" when unknown.
    std::string charge() const;
    std::string rate(const std::optional<double>& perHour) const;
    std::string watts() const;
    // The last sleep's %/h, "0.5 %/h"; "-" before the first or without a rate.
    std::string lastSleepRate() const;
};

// Waybar's custom module with "return-type": "json": text (charge and rate
// now), tooltip (the nine figures and the last sleep, a line each), class (a
// list: discharging, charging, full or no-battery, and high-drain after a
// sleep flagged so) and percentage (the charge, an integer). With a template
// (--waybar --format), the text is made from it.
class StatusTemplate;
std::string waybarLine(const StatusBarFigures& bar, const StatusTemplate* text = nullptr);

// A line made from a template such as "{charge} {rate}", for i3blocks,
// Polybar and anything that reads lines. "{{" and "}}" are braces.
class StatusTemplate {
public:
    // The template, or empty with the reason in `error`: an unknown
    // placeholder or an unclosed brace is said before anything runs.
    static std::optional<StatusTemplate> parse(const std::string& text, std::string& error);
    std::string expand(const StatusBarFigures& bar) const;
    bool empty() const { return pieces_.empty(); }

    // The placeholders, in the order --help lists them.
    static const std::vector<std::string>& placeholders();

private:
    struct Piece {
        std::string literal;
        int placeholder = -1;
    };
    std::vector<Piece> pieces_;
};

} // namespace drainwatch
