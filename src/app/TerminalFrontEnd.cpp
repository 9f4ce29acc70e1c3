#include "app/TerminalFrontEnd.h"

#include <cmath>
#include <cstring>

#include <fmt/format.h>

namespace drainwatch {

namespace {

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += fmt::format("\\{}", static_cast<char>(c));
        else if (c < 0x20)
            out += fmt::format("\\u{:04x}", c);
        else
            out += static_cast<char>(c);
    }
    return out + '"';
}

// Shortest form that reads back exactly; never a nan or an inf, which JSON lacks.
std::string jsonNumber(const std::optional<double>& value)
{
    return value && std::isfinite(*value) ? fmt::format("{}", *value) : "null";
}

std::size_t widestCaption()
{
    std::size_t widest = 0;
    for (const StatusField& field : kStatusFields)
        widest = std::max(widest, std::strlen(field.caption));
    return widest;
}

} // namespace

TerminalFrontEnd::TerminalFrontEnd(ViewController& controller, std::FILE* out, Format format)
    : controller_(controller), out_(out), format_(format)
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
    std::string line = "{";
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        line += fmt::format("\"{}\":{},", kStatusFields[i].outlet, jsonString(fields_[i].text));
    const MonitorFigures figures = controller_.figures();
    line += fmt::format("\"charge\":{},\"currentMA\":{},\"ratePerHour\":{},\"recentPerHour\":{},\"averagePerHour\":{},",
                        jsonNumber(figures.charge), jsonNumber(figures.currentMA), jsonNumber(figures.ratePerHour),
                        jsonNumber(figures.recentPerHour), jsonNumber(figures.averagePerHour));
    const SleepTracker* sleeps = controller_.sleepTracker;
    line += "\"lastSleep\":";
    line += sleeps && sleeps->lastRecord() ? sleepRecordJson(*sleeps->lastRecord()) : "null";
    return line + '}';
}

std::string TerminalFrontEnd::block()
{
    const std::size_t width = widestCaption();
    std::string text;
    if (format_ == Format::Redraw && blocksWritten_ > 0)
        text += fmt::format("\x1b[{}A", kStatusFields.size());
    else if (format_ == Format::Blocks && blocksWritten_ > 0)
        text += '\n';
    for (std::size_t i = 0; i < kStatusFields.size(); ++i) {
        if (format_ == Format::Redraw)
            text += "\r\x1b[2K";
        text += fmt::format("{:>{}}  {}\n", kStatusFields[i].caption, width, fields_[i].text);
    }
    return text;
}

void TerminalFrontEnd::render()
{
    if (muted_ || stopped_)
        return;
    const std::string text = format_ == Format::Json ? jsonLine() + '\n' : block();
    ++blocksWritten_;
    // One write a tick, and a failed one is seen now, not at the next.
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    if ((std::fflush(out_) != 0 || !written || std::ferror(out_)) && outputLost)
        outputLost();
}

} // namespace drainwatch
