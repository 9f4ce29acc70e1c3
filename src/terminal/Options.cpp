// SPDX-License-Identifier: MIT
#include "terminal/Options.h"

#include "history/GraphRange.h"
#include "history/LocalTime.h"
#include "terminal/StatusBar.h"

#include <fmt/format.h>

namespace drainwatch {

namespace {

// --NAME VALUE or --NAME=VALUE; false where argument is neither.
bool takeValue(const std::string& name, const std::string& argument, std::vector<std::string>::const_iterator& next,
               std::vector<std::string>::const_iterator end, std::optional<std::string>& value, bool& missing)
{
    if (argument == name) {
        missing = next + 1 == end;
        if (!missing)
            value = *++next;
        return true;
    }
    if (!argument.starts_with(name + "="))
        return false;
    value = argument.substr(name.size() + 1);
    return true;
}

std::string dateError(const char* name, const std::optional<std::string>& date)
{
    if (!date || localDayStart(*date))
        return {};
    return fmt::format("{} takes a date as YYYY-MM-DD, such as {} 2026-12-01, not '{}'", name, name, *date);
}

} // namespace

Options Options::parse(const std::vector<std::string>& arguments)
{
    Options options;
    bool rangeGiven = false;
    for (auto next = arguments.begin(); next != arguments.end(); ++next) {
        const std::string& argument = *next;
        bool missing = false;
        if (takeValue("--since", argument, next, arguments.end(), options.since, missing) ||
            takeValue("--until", argument, next, arguments.end(), options.until, missing)) {
            if (missing && options.error.empty())
                options.error = fmt::format("{} needs a date, such as {} 2026-12-01", argument, argument);
            continue;
        }
        if (argument == "--help" || argument == "-h")
            options.help = true;
        else if (argument == "--version")
            options.version = true;
        else if (argument == "--battery-info")
            options.batteryInfo = true;
        else if (argument == "--simulate")
            options.simulate = true;
        else if (argument == "--terminal")
            options.terminal = true;
        else if (argument == "--tray")
            options.tray = true;
        else if (argument == "--json")
            options.terminal = options.json = true;
        else if (argument == "--sleeps")
            options.sleeps = true;
        else if (argument == "--inhibitors")
            options.inhibitors = true;
        else if (argument == "--history")
            options.history = true;
        else if (argument == "--discharges")
            options.discharges = true;
        else if (argument == "--apps")
            options.apps = true;
        else if (argument == "--csv")
            options.csv = true;
        else if (argument == "--no-notify")
            options.noNotify = true;
        else if (argument == "--waybar")
            options.terminal = options.waybar = true;
        else if (argument == "--format" || argument.starts_with("--format=")) {
            options.terminal = true;
            if (argument != "--format")
                options.format = argument.substr(std::string_view("--format=").size());
            else if (next + 1 != arguments.end())
                options.format = *++next;
            else if (options.error.empty())
                options.error = "--format needs a template, such as --format '{charge} {rate}'";
        } else if (argument == "--graph" || argument == "--range") {
            const bool graph = argument == "--graph";
            if (next + 1 == arguments.end()) {
                if (options.error.empty())
                    options.error = graph ? "--graph needs a file, such as --graph drain.png"
                                          : "--range needs one of 6h, 24h, 7d, 30d";
            } else if (graph) {
                options.graph = *++next;
            } else {
                options.range = *++next;
                rangeGiven = true;
            }
        } else if (options.error.empty())
            options.error = (argument.starts_with('-') ? "unknown option '" : "unexpected argument '") + argument +
                            "'; 'drainwatch --help' lists the options";
    }
    if (options.error.empty() && !graphRange(options.range))
        options.error = "unknown range '" + options.range + "'; --range takes 6h, 24h, 7d or 30d";
    if (options.error.empty() && rangeGiven && !options.graph)
        options.error = "--range goes with --graph FILE";
    if (options.error.empty() && options.graph && options.graph->empty())
        options.error = "--graph needs a file, such as --graph drain.png";
    if (options.error.empty())
        options.error = dateError("--since", options.since);
    if (options.error.empty())
        options.error = dateError("--until", options.until);
    if (options.error.empty() && (options.since || options.until) && !options.history && !options.apps)
        options.error = "--since and --until go with --history or --apps";
    if (options.error.empty() && options.csv && !options.discharges && !options.apps)
        options.error = "--csv goes with --discharges or --apps (--history always prints CSV)";
    if (options.error.empty() && options.history + options.discharges + options.sleeps + options.apps > 1)
        options.error = "--history, --discharges, --sleeps and --apps each print one history; give one";
    if (options.error.empty() && options.apps && options.json && options.csv)
        options.error = "--apps prints JSON (--json) or CSV (--csv); give one";
    std::string formatError;
    if (options.error.empty() && options.format && !StatusTemplate::parse(*options.format, formatError))
        options.error = formatError;
    // --waybar --format: the template makes Waybar's text.
    if (options.error.empty() && options.json + (options.waybar || options.format.has_value()) > 1)
        options.error =
            "--json, --waybar and --format each choose the output; give one (--format may go with --waybar)";
    return options;
}

std::string Options::usage()
{
    return "Usage: drainwatch [options]\n"
           "Watches how fast the laptop battery drains, awake and in sleep, and logs\n"
           "charger, sleep and wake events.\n"
           "\n"
           "  --terminal      run without a window, the figures redrawn on every tick\n"
           "  --json          run without a window, one JSON object per tick\n"
           "  --waybar        run without a window, one JSON object per tick for Waybar's custom\n"
           "                  module (return-type json): text, tooltip, class, percentage; with\n"
           "                  --format, the text from its TEMPLATE\n"
           "  --format TEMPLATE\n"
           "                  run without a window, one line per tick from TEMPLATE, e.g.\n"
           "                  '{charge} {rate}'; placeholders: {charge} {rate} {recent} {average}\n"
           "                  {remaining} {full} {awake} {total} {sleep} {health} {watts}\n"
           "                  {lastSleepRate} {topApp}\n"
           "  --simulate      use a built-in simulated battery, with its own settings and log\n"
           "  --tray          start with the tray icon only, the window hidden until asked for\n"
           "  --battery-info  print what the battery reports, then exit\n"
           "  --sleeps        print every sleep recorded, with a summary per sleep mode, then exit;\n"
           "                  with --json, one JSON object a line\n"
           "  --inhibitors    print what holds sleep, idle and the lid now (logind's inhibitor locks),\n"
           "                  the lid's state and what closing it does, then exit\n"
           "  --history [--since YYYY-MM-DD] [--until YYYY-MM-DD]\n"
           "                  print the battery's samples (one a minute awake, one at each event) as\n"
           "                  CSV, then exit; --since and --until are local days, both included\n"
           "  --discharges    print the charge statistics of every discharge, then exit; with --csv,\n"
           "                  as CSV\n"
           "  --apps [--since YYYY-MM-DD] [--until YYYY-MM-DD] [--json|--csv]\n"
           "                  print what used the battery while awake on battery, per application,\n"
           "                  with the screen, the base and what the model of this laptop leaves\n"
           "                  unexplained (the last 7 days unless given local days), then exit\n"
           "  --no-notify     no desktop notification after a sleep that drained or failed\n"
           "  --graph FILE    draw the graph of the charge and the drain into the PNG FILE, then exit;\n"
           "                  needs no display, and works beside a running monitor\n"
           "  --range RANGE   the span --graph draws, back from now: 6h, 24h (the default), 7d or 30d\n"
           "  --version       print the version, then exit\n"
           "  --help          print this help, then exit\n"
           "\n"
           "Without a display, drainwatch runs as with --terminal.\n"
           "The log is ~/.local/state/Logs/Drainwatch/Drainwatch.log ($XDG_STATE_HOME),\n"
           "the history of sleeps, samples and discharges ~/.local/state/Drainwatch/history.sqlite.\n";
}

Identity Identity::of(bool simulate)
{
    if (simulate)
        return {"Drainwatch (simulated battery)", "Drainwatch-simulated.conf", "Drainwatch-simulated.log",
                "Drainwatch-simulated", "history-simulated.sqlite"};
    return {"Drainwatch", "Drainwatch.conf", "Drainwatch.log", "Drainwatch", "history.sqlite"};
}

} // namespace drainwatch
