#include "app/TerminalFrontEnd.h"

#include "log/JsonText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    line += fmt::format(",\"pluggedIn\":{},\"volts\":{}", pluggedIn ? (*pluggedIn ? "true" : "false") : "null",
                        jsonNumber(controller.batteryVoltage > 0 ? std::optional(controller.batteryVoltage) : std::nullopt));
    const SleepTracker* sleeps = controller.sleepTracker;
    line += ",\"lastSleep\":";
    line += sleeps && sleeps->lastRecord() ? sleepRecordJson(*sleeps->lastRecord()) : "null";
    return line + '}';
}

StatusBarFigures TerminalFrontEnd::statusBarFigures()
{
    StatusBarFigures bar;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        bar.texts[i] = kStatusFields[i].member == &ViewController::healthLabel ? health_(fields_[i].text) : fields_[i].text;
    bar.figures = controller_.figures();
    // The monitor keeps the last charge it read; a battery gone since is none.
    if (bar.text(&ViewController::currentChargeLabel) == "(no battery)")
        bar.figures.charge.reset();
    bar.pluggedIn = controller_.batteryState.isCharging().value_or(false);
    bar.volts = controller_.batteryVoltage;
    if (const SleepTracker* sleeps = controller_.sleepTracker)
        bar.lastSleep = sleeps->lastRecord();
    return bar;
}

void TerminalFrontEnd::setColumns(int columns)
{
    if (columns == columns_)
        return;
    columns_ = std::max(columns, 0);
    if (format_ != Format::Redraw || blocksWritten_ == 0)
        return;
    redrawWhole_ = true;
    render();
}

// Appends the lines of one figure, each ending in a line end.
void TerminalFrontEnd::fit(std::string& text, const std::string& head, const std::string& value) const
{
    const auto columns = static_cast<std::size_t>(columns_);
    const std::size_t indent = displayLength(head);
    if (format_ != Format::Redraw || columns == 0 || indent + displayLength(value) <= columns) {
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

std::string TerminalFrontEnd::block()
{
    const std::size_t width = widestCaption();
    std::string lines;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        fit(lines, fmt::format("{:>{}}  ", kStatusFields[i].caption, width),
            kStatusFields[i].member == &ViewController::healthLabel ? health_(fields_[i].text) : fields_[i].text);

    std::string text;
    if (format_ == Format::Redraw && redrawWhole_)
        text += "\x1b[H\x1b[J";
    else if (format_ == Format::Redraw && blocksWritten_ > 0)
        text += fmt::format("\x1b[{}A", linesShown_);
    else if (format_ == Format::Blocks && blocksWritten_ > 0)
        text += '\n';
    redrawWhole_ = false;
    linesShown_ = 0;
    for (std::size_t start = 0; start < lines.size(); ++linesShown_) {
        const std::size_t end = lines.find('\n', start) + 1;
        if (format_ == Format::Redraw)
            text += "\r\x1b[2K";
        text += lines.substr(start, end - start);
        start = end;
    }
    // A block shorter than the last leaves none of it behind.
    if (format_ == Format::Redraw)
        text += "\x1b[J";
    return text;
}

void TerminalFrontEnd::render()
{
    if (muted_ || stopped_)
        return;
    std::string text;
    if (format_ == Format::Json)
        text = jsonLine() + '\n';
    else if (format_ == Format::Waybar)
        text = waybarLine(statusBarFigures()) + '\n';
    else if (format_ == Format::Template)
        text = template_.expand(statusBarFigures()) + '\n';
    else
        text = block();
    ++blocksWritten_;
    // One write a tick, and a failed one is seen now, not at the next.
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    if ((std::fflush(out_) != 0 || !written || std::ferror(out_)) && outputLost)
        outputLost();
}

} // namespace drainwatch
