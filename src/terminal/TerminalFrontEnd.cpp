// SPDX-License-Identifier: MIT
#include "terminal/TerminalFrontEnd.h"

#include "log/JsonText.h"

#include <fmt/format.h>

namespace drainwatch {

TerminalFrontEnd::TerminalFrontEnd(ViewController& controller, std::FILE* out, Format format)
    : controller_(controller), out_(out), format_(format), block_(format == Format::Redraw)
{
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        controller_.*kStatusFields[i].member = &fields_[i];
    controller_.displayUpdated = [this] { render(); };
}

void TerminalFrontEnd::start()
{
    // The view load runs a tick and so does the appearance right after it:
    // one block for the two.
    muted_ = true;
    controller_.viewDidLoad();
    muted_ = false;
    controller_.viewDidAppear();
}

void TerminalFrontEnd::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    controller_.windowWillClose();
    controller_.applicationWillTerminate();
}

std::string TerminalFrontEnd::jsonLine() const
{
    std::array<std::string, kStatusFields.size()> texts;
    for (std::size_t i = 0; i < texts.size(); ++i)
        texts[i] = fields_[i].text;
    return statusJsonLine(texts, controller_);
}

std::string statusJsonLine(const std::array<std::string, kStatusFields.size()>& texts, const ViewController& controller)
{
    std::string line = "{";
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        line += fmt::format("\"{}\":{},", kStatusFields[i].outlet, jsonString(texts[i]));
    const MonitorFigures figures = controller.figures();
    line += fmt::format("\"charge\":{},\"currentMA\":{},\"ratePerHour\":{},\"recentPerHour\":{},\"averagePerHour\":{}",
                        jsonNumber(figures.charge), jsonNumber(figures.currentMA), jsonNumber(figures.ratePerHour),
                        jsonNumber(figures.recentPerHour), jsonNumber(figures.averagePerHour));
    // What a status bar that follows over the socket needs besides: the
    // charger, and the voltage for watts.
    const auto pluggedIn = controller.batteryState.isCharging();
    line += fmt::format(",\"pluggedIn\":{},\"volts\":{},\"heldAt\":{}",
                        pluggedIn ? (*pluggedIn ? "true" : "false") : "null",
                        jsonNumber(controller.powerVoltage > 0 ? std::optional(controller.powerVoltage) : std::nullopt),
                        jsonNumber(figures.heldAt));
    const SleepTracker* sleeps = controller.sleepTracker;
    line += ",\"lastSleep\":";
    line += sleeps && sleeps->lastRecord() ? sleepRecordJson(shownFigures(*sleeps->lastRecord())) : "null";
    const ActivityRecorder* activity = controller.activityRecorder;
    line += ",\"topApp\":";
    line += activity && !activity->topApplication().empty() ? jsonString(activity->topApplication()) : "null";
    return line + '}';
}

StatusBarFigures TerminalFrontEnd::statusBarFigures()
{
    StatusBarFigures bar;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        bar.texts[i] =
            kStatusFields[i].member == &ViewController::healthLabel ? health_(fields_[i].text) : fields_[i].text;
    bar.figures = controller_.figures();
    // The monitor keeps the last charge it read; a battery gone since is none.
    if (bar.text(&ViewController::currentChargeLabel) == "(no battery)")
        bar.figures.charge.reset();
    bar.pluggedIn = controller_.batteryState.isCharging().value_or(false);
    bar.volts = controller_.powerVoltage;
    if (const SleepTracker* sleeps = controller_.sleepTracker)
        bar.lastSleep = sleeps->lastRecord();
    if (const ActivityRecorder* activity = controller_.activityRecorder)
        bar.topApp = activity->topApplication();
    return bar;
}

void TerminalFrontEnd::setColumns(int columns)
{
    if (block_.setColumns(columns))
        render();
}

std::string TerminalFrontEnd::block()
{
    std::array<std::string, kStatusFields.size()> texts;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        texts[i] = kStatusFields[i].member == &ViewController::healthLabel ? health_(fields_[i].text) : fields_[i].text;
    return block_.next(texts);
}

void TerminalFrontEnd::render()
{
    if (muted_ || stopped_)
        return;
    std::string text;
    if (format_ == Format::Json)
        text = jsonLine() + '\n';
    else if (format_ == Format::Waybar)
        text = waybarLine(statusBarFigures(), &template_) + '\n';
    else if (format_ == Format::Template)
        text = template_.expand(statusBarFigures()) + '\n';
    else
        text = block();
    // One write a tick, and a failed one is seen now, not at the next.
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    if ((std::fflush(out_) != 0 || !written || std::ferror(out_)) && outputLost)
        outputLost();
}

} // namespace drainwatch
