// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// The command line. Everything is a flag; Qt's own options are not taken, so
// that a mistyped option is never silently passed on.
struct Options {
    bool help = false;
    bool version = false;
    bool batteryInfo = false;
    bool simulate = false;
    bool terminal = false;
    bool json = false;
    // One line a tick for a status bar: Waybar's JSON, or a template's text.
    bool waybar = false;
    std::optional<std::string> format;
    // The window program starts with its tray icon only (as at login).
    bool tray = false;
    // Print the sleep history (as JSON lines with --json), then exit.
    bool sleeps = false;
    // Print what holds sleep, idle and the lid now, then exit.
    bool inhibitors = false;
    // Print the battery's samples as CSV, from the local day since to the
    // end of the local day until (YYYY-MM-DD, both checked), then exit.
    bool history = false;
    std::optional<std::string> since;
    std::optional<std::string> until;
    // Print what used the battery while awake, per application, from the
    // local day since to the end of the local day until (else the last 7
    // days), as a table, JSON lines (--json) or CSV (--csv), then exit.
    bool apps = false;
    // Print the discharges as a table (as CSV with --csv), then exit.
    bool discharges = false;
    bool csv = false;
    // No desktop notification after a sleep that went wrong.
    bool noNotify = false;
    // Draw the graph of the history into this PNG, then exit.
    std::optional<std::string> graph;
    std::string range = "24h";
    // Set when the command line cannot be used; says why.
    std::string error;

    static Options parse(const std::vector<std::string>& arguments);
    static std::string usage();
};

// What a run with or without the simulated battery is called and where it
// keeps its data, so that the two never share a store, a log or an instance.
struct Identity {
    std::string title;
    std::string storeFile;
    std::string logFile;
    std::string instanceName;
    std::string historyFile;

    static Identity of(bool simulate);
};

} // namespace drainwatch
