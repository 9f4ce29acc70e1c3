// SPDX-License-Identifier: MIT
#include "terminal/StatusBar.h"

#include "activity/AppsText.h"
#include "sleep/SleepText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <functional>

#include <fmt/format.h>

namespace drainwatch {

namespace {

constexpr double kWarningCharge = 0.20;
constexpr double kCriticalCharge = 0.10;

bool known(const std::optional<double>& value) { return value && std::isfinite(*value); }

struct Placeholder {
    const char* name;
    std::function<std::string(const StatusBarFigures&)> value;
};

const std::vector<Placeholder>& placeholderTable()
{
    using Bar = StatusBarFigures;
    static const std::vector<Placeholder> table = {
        {"charge", [](const Bar& bar) { return bar.charge(); }},
        {"rate", [](const Bar& bar) { return bar.rate(bar.figures.ratePerHour); }},
        {"recent", [](const Bar& bar) { return bar.rate(bar.figures.recentPerHour); }},
        {"average", [](const Bar& bar) { return bar.rate(bar.figures.averagePerHour); }},
        {"remaining", [](const Bar& bar) { return bar.text(&ViewController::plannedRuntimeLabel); }},
        {"full", [](const Bar& bar) { return bar.text(&ViewController::totalRuntimeLabel); }},
        {"awake", [](const Bar& bar) { return bar.text(&ViewController::timeAwakeLabel); }},
        {"total", [](const Bar& bar) { return bar.text(&ViewController::timeOnBatteryLabel); }},
        {"sleep", [](const Bar& bar) { return bar.text(&ViewController::usedInSleepLabel); }},
        {"health", [](const Bar& bar) { return bar.text(&ViewController::healthLabel); }},
        {"watts", [](const Bar& bar) { return bar.watts(); }},
        {"lastSleepRate", [](const Bar& bar) { return bar.lastSleepRate(); }},
        {"topApp", [](const Bar& bar) { return bar.topApp.empty() ? std::string("-") : bar.topApp; }},
    };
    return table;
}

std::optional<double> numberIn(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object[QLatin1String(key)];
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

std::optional<std::string> textIn(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object[QLatin1String(key)];
    return value.isString() ? std::optional(value.toString().toStdString()) : std::nullopt;
}

// A count that is no whole number in range, from a damaged line, is none.
std::optional<std::int64_t> countIn(const QJsonObject& object, const char* key)
{
    const auto value = numberIn(object, key);
    if (!value || !(std::fabs(*value) < 9e15) || std::trunc(*value) != *value)
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

std::vector<std::string> textsIn(const QJsonObject& object, const char* key)
{
    std::vector<std::string> texts;
    for (const auto& value : object[QLatin1String(key)].toArray())
        texts.push_back(value.toString().toStdString());
    return texts;
}

// The record as sleepRecordJson writes it; null where the monitor had none.
std::optional<SleepRecord> sleepRecordFrom(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    SleepRecord r;
    r.how = textIn(o, "how").value_or("");
    r.start = numberIn(o, "start").value_or(0);
    r.end = numberIn(o, "end").value_or(0);
    r.asleepSeconds = numberIn(o, "asleepSeconds");
    r.mode = textIn(o, "mode");
    r.onBattery = o["onBattery"].toBool();
    r.chargeBefore = numberIn(o, "chargeBefore").value_or(0);
    r.chargeAfter = numberIn(o, "chargeAfter").value_or(0);
    r.usedPercentage = numberIn(o, "usedPercentage").value_or(0);
    r.usedMAh = numberIn(o, "usedMAh");
    r.usedMWh = numberIn(o, "usedMWh");
    r.ratePerHour = numberIn(o, "ratePerHour");
    r.milliwatts = numberIn(o, "milliwatts");
    r.hardwareSleep = numberIn(o, "hardwareSleep");
    r.cycles = countIn(o, "cycles");
    r.failed = countIn(o, "failed");
    r.failedDevice = textIn(o, "failedDevice");
    r.failedStep = textIn(o, "failedStep");
    if (o[QLatin1String("wokenBy")].isArray())
        r.wokenBy = textsIn(o, "wokenBy");
    r.flags = textsIn(o, "flags");
    return r;
}

// One line, whatever a text read from /sys holds.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

} // namespace

StatusBarFigures StatusBarFigures::fromJson(const std::string& line)
{
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    const auto number = [&object](const char* key) {
        const QJsonValue value = object[QLatin1String(key)];
        return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
    };
    StatusBarFigures bar;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        bar.texts[i] = object[QLatin1String(kStatusFields[i].outlet)].toString().toStdString();
    bar.figures = {number("charge"),        number("currentMA"),      number("ratePerHour"),
                   number("recentPerHour"), number("averagePerHour"), number("heldAt")};
    if (bar.text(&ViewController::currentChargeLabel) == "(no battery)")
        bar.figures.charge.reset();
    bar.pluggedIn = object["pluggedIn"].toBool();
    bar.volts = number("volts").value_or(0);
    bar.lastSleep = sleepRecordFrom(object["lastSleep"]);
    bar.topApp = printableName(textIn(object, "topApp").value_or(""));
    if (!object["topApp"].isString())
        bar.topApp.clear();
    return bar;
}

const std::string& StatusBarFigures::text(TextField* ViewController::*member) const
{
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        if (kStatusFields[i].member == member)
            return texts[i];
    static const std::string none;
    return none;
}

std::string StatusBarFigures::charge() const
{
    return known(figures.charge) ? fmt::format("{:.0f}%", *figures.charge * 100) : "-";
}

// Signed as in the JSON output: below 0 while the battery takes charge.
std::string StatusBarFigures::rate(const std::optional<double>& perHour) const
{
    return known(perHour) && known(figures.charge) ? fmt::format("{:.1f} %/h", *perHour + 0.0) : "-";
}

std::string StatusBarFigures::watts() const
{
    if (!known(figures.currentMA) || !known(figures.charge) || !(volts > 0))
        return "-";
    return fmt::format("{:.1f} W", *figures.currentMA / 1000 * volts + 0.0);
}

std::string StatusBarFigures::lastSleepRate() const
{
    return lastSleep && known(lastSleep->ratePerHour) ? fmt::format("{:.1f} %/h", *lastSleep->ratePerHour + 0.0) : "-";
}

std::string waybarLine(const StatusBarFigures& bar, const StatusTemplate* textTemplate)
{
    const bool battery = known(bar.figures.charge);
    std::string text = "no battery";
    const bool held = battery && bar.pluggedIn && known(bar.figures.heldAt);
    if (battery) {
        text = bar.charge();
        if (held)
            text += " (charge limit)";
        else if (known(bar.figures.ratePerHour))
            text += ' ' + bar.rate(bar.figures.ratePerHour);
    }
    if (textTemplate && !textTemplate->empty())
        text = textTemplate->expand(bar);
    QStringList tooltip;
    for (std::size_t i = 0; i < kStatusFields.size(); ++i)
        tooltip << QString::fromStdString(fmt::format("{}: {}", kStatusFields[i].caption, bar.texts[i]));
    if (bar.lastSleep)
        tooltip << QString::fromStdString(lastSleepLine(*bar.lastSleep));
    if (!bar.topApp.empty())
        tooltip << QString::fromStdString("Used most (10 min): " + bar.topApp);

    // Not charging: a charge limit holds the battery below the top. Full: the
    // charger is in and nothing flows into the battery, or it is at the top.
    QString cssClass = QStringLiteral("no-battery");
    if (battery && !bar.pluggedIn)
        cssClass = QStringLiteral("discharging");
    else if (held)
        cssClass = QStringLiteral("not-charging");
    else if (battery)
        cssClass =
            *bar.figures.charge >= 0.995 || (known(bar.figures.currentMA) && std::fabs(*bar.figures.currentMA) < 1)
                ? QStringLiteral("full")
                : QStringLiteral("charging");

    // Waybar takes a list of classes: the state and, beside it, the warning.
    QJsonArray classes = {cssClass};
    // Low on battery, as the tray icon turns red at 20 %.
    if (battery && !bar.pluggedIn && *bar.figures.charge < kCriticalCharge)
        classes.append(QStringLiteral("critical"));
    else if (battery && !bar.pluggedIn && *bar.figures.charge < kWarningCharge)
        classes.append(QStringLiteral("warning"));
    if (bar.lastSleep && bar.lastSleep->hasFlag("high drain"))
        classes.append(QStringLiteral("high-drain"));

    QJsonObject line;
    line.insert("text", QString::fromStdString(text));
    // Waybar reads the tooltip as Pango markup: what the machine named (an
    // application, a wake source) is shown as it is, never as markup.
    QString shown = tooltip.join('\n');
    shown.replace('&', QLatin1String("&amp;")).replace('<', QLatin1String("&lt;")).replace('>', QLatin1String("&gt;"));
    line.insert("tooltip", shown);
    line.insert("class", classes);
    line.insert("percentage",
                battery ? static_cast<int>(std::lround(std::clamp(*bar.figures.charge, 0.0, 1.0) * 100)) : 0);
    return QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString();
}

const std::vector<std::string>& StatusTemplate::placeholders()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> result;
        for (const Placeholder& placeholder : placeholderTable())
            result.emplace_back(placeholder.name);
        return result;
    }();
    return names;
}

std::optional<StatusTemplate> StatusTemplate::parse(const std::string& text, std::string& error)
{
    StatusTemplate result;
    std::string literal;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if ((c == '{' || c == '}') && at + 1 < text.size() && text[at + 1] == c) {
            literal += c;
            ++at;
            continue;
        }
        if (c == '}') {
            error = fmt::format("a '}}' without its '{{' in the format '{}'; '}}}}' is a brace", text);
            return std::nullopt;
        }
        if (c != '{') {
            literal += c;
            continue;
        }
        const std::size_t end = text.find('}', at);
        if (end == std::string::npos) {
            error = fmt::format("a '{{' without its '}}' in the format '{}'; '{{{{' is a brace", text);
            return std::nullopt;
        }
        const std::string name = text.substr(at + 1, end - at - 1);
        const auto& names = placeholders();
        const auto found = std::find(names.begin(), names.end(), name);
        if (found == names.end()) {
            std::string list;
            for (const std::string& known : names)
                list += (list.empty() ? "{" : ", {") + known + "}";
            error = fmt::format("unknown placeholder '{{{}}}' in the format; known are {}", name, list);
            return std::nullopt;
        }
        result.pieces_.push_back({std::move(literal), static_cast<int>(found - names.begin())});
        literal.clear();
        at = end;
    }
    if (!literal.empty())
        result.pieces_.push_back({std::move(literal), -1});
    return result;
}

std::string StatusTemplate::expand(const StatusBarFigures& bar) const
{
    std::string line;
    for (const Piece& piece : pieces_) {
        line += piece.literal;
        if (piece.placeholder >= 0)
            line += placeholderTable()[static_cast<std::size_t>(piece.placeholder)].value(bar);
    }
    // One line a tick: a text with a line end in it would read as two.
    return oneLine(std::move(line));
}

} // namespace drainwatch
