// SPDX-License-Identifier: MIT
#include "support/AppFixture.h"

#include "support/Records.h"
#include "terminal/Options.h"
#include "terminal/StatusBar.h"
#include "terminal/TerminalFrontEnd.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include <fmt/format.h>

namespace drainwatch::test {
namespace {

// The monitor through the terminal front end, its lines read back from a
// temporary file.
class StatusBarTest : public AppFixture {
public:
    ~StatusBarTest() override { std::fclose(file); }

protected:
    QStringList run(TerminalFrontEnd::Format format, const std::string& line = {})
    {
        TerminalFrontEnd frontEnd(*controller, file, format);
        if (!line.empty()) {
            std::string error;
            const auto parsed = StatusTemplate::parse(line, error);
            EXPECT_TRUE(parsed) << error;
            if (parsed)
                frontEnd.setTemplate(*parsed);
        }
        frontEnd.start();
        runFor(595);
        battery.set("CurrentCapacity", std::int64_t{4490});
        tick();
        battery.set("ExternalConnected", true);
        battery.set("IsCharging", true);
        battery.set("Amperage", std::int64_t{2000});
        tick();
        battery.set("CurrentCapacity", std::int64_t{5000});
        battery.set("Amperage", std::int64_t{0});
        tick();
        battery.clear();
        tick();
        frontEnd.stop();
        return written();
    }

    QStringList written()
    {
        std::fflush(file);
        std::rewind(file);
        QString text;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, file))
            text += QString::fromUtf8(buffer);
        return text.split('\n', Qt::SkipEmptyParts);
    }

    std::FILE* file = std::tmpfile();
};

// Each line through a JSON parser, as Waybar reads it: the four keys with
// their types, one line a tick, discharging, charging, full, then no battery.
TEST_F(StatusBarTest, WaybarGetsOneJsonObjectATickWithItsFourKeysAndTheClassOfTheMoment)
{
    const QStringList lines = run(TerminalFrontEnd::Format::Waybar);
    ASSERT_EQ(lines.size(), 1 + 120 + 3) << lines.join('\n').toStdString();
    std::vector<QJsonObject> objects;
    for (const QString& line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QJsonObject object = document.object();
        EXPECT_EQ(object.keys(), QStringList({"class", "percentage", "text", "tooltip"})) << line.toStdString();
        EXPECT_TRUE(object["text"].isString() && object["tooltip"].isString() && object["class"].isArray());
        EXPECT_TRUE(object["percentage"].isDouble());
        objects.push_back(object);
    }
    const QJsonObject& discharging = objects[120];
    EXPECT_EQ(discharging["text"].toString(), "90% 25.0 %/h");
    EXPECT_EQ(discharging["class"].toArray(), QJsonArray({"discharging"}));
    EXPECT_EQ(discharging["percentage"].toInt(), 90);
    const QStringList tooltip = discharging["tooltip"].toString().split('\n');
    ASSERT_EQ(tooltip.size(), 9);
    EXPECT_EQ(tooltip[0], "Awake on battery: 00:10");
    EXPECT_EQ(tooltip[2], "Consumption: 25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    EXPECT_EQ(tooltip[8], "Health: 96.2% (5000mAh of 5200mAh)");

    EXPECT_EQ(objects[121]["class"].toArray(), QJsonArray({"charging"}));
    EXPECT_EQ(objects[121]["text"].toString(), "90% -40.0 %/h");
    EXPECT_EQ(objects[122]["class"].toArray(), QJsonArray({"full"}));
    EXPECT_EQ(objects[122]["percentage"].toInt(), 100);
    EXPECT_EQ(objects[123]["class"].toArray(), QJsonArray({"no-battery"}));
    EXPECT_EQ(objects[123]["text"].toString(), "no battery");
    EXPECT_EQ(objects[123]["percentage"].toInt(), 0);
}

TEST_F(StatusBarTest, ATemplateGivesEveryFigureOnOneLineATick)
{
    const QStringList lines = run(TerminalFrontEnd::Format::Template,
                                  "{charge}|{rate}|{recent}|{average}|{watts}|{remaining}|{full}|{awake}|{total}|"
                                  "{sleep}|{health}|{lastSleepRate} {{x}}");
    ASSERT_EQ(lines.size(), 1 + 120 + 3);
    // 0.2 % in 600 s awake: a full battery lasts 83:20, 89.8 % of it 74:50 (truncated).
    EXPECT_EQ(lines[120].toStdString(), "90%|25.0 %/h|25.0 %/h|25.0 %/h|15.0 W|74:49|83:19|00:10|00:10|0.0%|"
                                        "96.2% (5000mAh of 5200mAh)|- {x}")
        << "no sleep yet";
    EXPECT_TRUE(lines[121].startsWith("90%|-40.0 %/h|")) << lines[121].toStdString();
    EXPECT_TRUE(lines[123].startsWith("-|-|-|-|-|(no battery)|")) << lines[123].toStdString();
}

// A sleep at 2 %/h is high without a history to judge it by; one at 0.5 %/h
// after it is not. Waybar and the template get it from the tick that ends
// the sleep, and a bar that follows another monitor gets the same from its
// JSON line.
TEST_F(StatusBarTest, TheLastSleepGoesIntoTheTooltipTheClassAndItsPlaceholder)
{
    trackSleeps();
    TerminalFrontEnd frontEnd(*controller, file, TerminalFrontEnd::Format::Waybar);
    frontEnd.start();
    std::string error;
    const StatusTemplate rate = *StatusTemplate::parse("{lastSleepRate}", error);
    const auto last = [this] { return QJsonDocument::fromJson(written().back().toUtf8()).object(); };
    EXPECT_EQ(rate.expand(frontEnd.statusBarFigures()), "-");

    suspend(1, 4400);
    QJsonObject line = last();
    EXPECT_EQ(line["class"].toArray(), QJsonArray({"discharging", "high-drain"}));
    QStringList tooltip = line["tooltip"].toString().split('\n');
    ASSERT_EQ(tooltip.size(), 10);
    EXPECT_EQ(tooltip[9], "Last sleep: 1 h 00 min, 2.0% used, 2.00 %/h, 1200 mW (high drain)");
    EXPECT_EQ(rate.expand(frontEnd.statusBarFigures()), "2.0 %/h");
    const StatusBarFigures followed = StatusBarFigures::fromJson(frontEnd.jsonLine());
    EXPECT_EQ(followed.lastSleep, shownFigures(*tracker.lastRecord()));
    EXPECT_EQ(waybarLine(followed), waybarLine(frontEnd.statusBarFigures()));
    EXPECT_EQ(rate.expand(followed), "2.0 %/h");

    suspend(1, 4375);
    line = last();
    EXPECT_EQ(line["class"].toArray(), QJsonArray({"discharging"}));
    EXPECT_EQ(line["tooltip"].toString().split('\n').value(9), "Last sleep: 1 h 00 min, 0.5% used, 0.50 %/h, 300 mW");
    EXPECT_EQ(rate.expand(StatusBarFigures::fromJson(frontEnd.jsonLine())), "0.5 %/h");
    frontEnd.stop();
}

// Every field of a record survives the JSON line, as a follower reads it;
// a line without one, or with a broken one, has none and shows "-".
TEST_F(StatusBarTest, TheLastSleepReadsBackWholeFromTheJsonLine)
{
    SleepRecord record = sleepRecord(1.125);
    record.start += 0.5;
    record.end += 0.25;
    record.failedDevice = "usb \"1-2\"\n";
    const StatusBarFigures bar = StatusBarFigures::fromJson("{\"lastSleep\":" + sleepRecordJson(record) + "}");
    ASSERT_TRUE(bar.lastSleep);
    EXPECT_EQ(*bar.lastSleep, record);
    EXPECT_EQ(bar.lastSleepRate(), "1.1 %/h");

    for (const char* line : {"{\"lastSleep\":null}", "{}", "{\"lastSleep\":\"x\"}", "not json"}) {
        EXPECT_FALSE(StatusBarFigures::fromJson(line).lastSleep) << line;
        EXPECT_EQ(StatusBarFigures::fromJson(line).lastSleepRate(), "-") << line;
    }
    record.ratePerHour.reset();
    EXPECT_EQ(StatusBarFigures::fromJson("{\"lastSleep\":" + sleepRecordJson(record) + "}").lastSleepRate(), "-");
    const auto cycles = [](const char* value) {
        return StatusBarFigures::fromJson(fmt::format("{{\"lastSleep\":{{\"how\":\"suspend\",\"cycles\":{}}}}}", value))
            .lastSleep->cycles;
    };
    EXPECT_EQ(cycles("12"), 12);
    for (const char* damaged : {"1e300", "-1e300", "2.5", "\"3\"", "null"})
        EXPECT_FALSE(cycles(damaged)) << damaged;
}

TEST_F(StatusBarTest, ATemplateWithAnUnknownPlaceholderOrALoneBraceIsRefusedAndSaysWhy)
{
    std::string error;
    EXPECT_FALSE(StatusTemplate::parse("{charge} {chrage}", error));
    EXPECT_NE(error.find("'{chrage}'"), std::string::npos) << error;
    EXPECT_NE(error.find("{charge}, {rate}"), std::string::npos) << "the known ones are listed: " << error;
    EXPECT_FALSE(StatusTemplate::parse("{charge", error));
    EXPECT_FALSE(StatusTemplate::parse("charge}", error));
    EXPECT_FALSE(StatusTemplate::parse("{}", error));
    EXPECT_TRUE(StatusTemplate::parse("", error));

    EXPECT_NE(Options::parse({"--format", "{bogus}"}).error.find("'{bogus}'"), std::string::npos);
    EXPECT_NE(Options::parse({"--format=x{bogus}"}).error.find("'{bogus}'"), std::string::npos);
    EXPECT_NE(Options::parse({"--format"}).error.find("needs a template"), std::string::npos);
    EXPECT_FALSE(Options::parse({"--waybar", "--json"}).error.empty());
    const Options format = Options::parse({"--format", "{charge}", "--simulate"});
    EXPECT_TRUE(format.error.empty() && format.terminal && format.simulate && format.format == "{charge}");
    EXPECT_TRUE(Options::parse({"--waybar"}).waybar && Options::parse({"--waybar"}).terminal);
    for (const std::string& name : StatusTemplate::placeholders())
        EXPECT_NE(Options::usage().find('{' + name + '}'), std::string::npos) << "--help lists {" << name << "}";
}

// A text is written as JSON writes it, and a line end in a text never splits
// a template's line in two.
TEST_F(StatusBarTest, TextsAreEscapedForJsonAndKeptOnOneLine)
{
    StatusBarFigures bar;
    bar.figures.charge = 0.5;
    bar.texts[7] = "a \"quoted\"\nsecond line\\";
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(waybarLine(bar))).object();
    EXPECT_TRUE(object["tooltip"].toString().contains("Used in sleep: a \"quoted\"\nsecond line\\"));
    EXPECT_EQ(object["text"].toString(), "50%");
    std::string error;
    EXPECT_EQ(StatusTemplate::parse("[{sleep}]", error)->expand(bar), "[a \"quoted\" second line\\]");
}

TEST_F(StatusBarTest, TheTopApplicationIsCarriedAndShownAsTextNotMarkup)
{
    StatusBarFigures bar;
    bar.figures.charge = 0.5;
    bar.topApp = "Evil <b>App</b> & co";
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(waybarLine(bar))).object();
    EXPECT_TRUE(object["tooltip"].toString().endsWith("Used most (10 min): Evil &lt;b&gt;App&lt;/b&gt; &amp; co"))
        << object["tooltip"].toString().toStdString();
    std::string error;
    const auto line = StatusTemplate::parse("{charge} {topApp}", error);
    EXPECT_EQ(line->expand(bar), "50% Evil <b>App</b> & co");
    bar.topApp.clear();
    EXPECT_EQ(line->expand(bar), "50% -");
    // A follower gets it over the socket; a name that is not a string is none.
    EXPECT_EQ(StatusBarFigures::fromJson(R"({"charge":0.5,"topApp":"Firefox\nNightly"})").topApp, "FirefoxNightly");
    EXPECT_EQ(StatusBarFigures::fromJson(R"({"charge":0.5,"topApp":null})").topApp, "");
    EXPECT_EQ(StatusBarFigures::fromJson(R"({"charge":0.5,"topApp":7})").topApp, "");
}

} // namespace
} // namespace drainwatch::test
