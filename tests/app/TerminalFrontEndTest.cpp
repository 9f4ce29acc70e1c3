#include "AppFixture.h"

#include "app/TerminalFrontEnd.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <clocale>
#include <locale>
#include <sstream>

namespace drainwatch::test {
namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

QJsonObject parse(const std::string& line)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return document.object();
}

class TerminalFrontEndTest : public AppFixture {
protected:
    std::ostringstream out;
};

TEST_F(TerminalFrontEndTest, BlocksOnePerTickWithCaptionsAligned)
{
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Blocks);
    frontEnd.start();
    EXPECT_EQ(lines(out.str()).size(), 9u) << "view load and appearance make one block";
    runFor(600);
    battery.set("CurrentCapacity", std::int64_t{4250});
    tick();

    const auto all = lines(out.str());
    ASSERT_EQ(all.size(), 122u * 10 - 1) << "121 blocks of nine lines, a blank line between two";
    const std::vector<std::string> last(all.end() - 9, all.end());
    EXPECT_EQ(all[all.size() - 10], "");
    EXPECT_EQ(last[0], "Awake on battery  00:10");
    EXPECT_EQ(last[2], "     Consumption  25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    EXPECT_EQ(last[5], "      Charge now  85.0%");
    EXPECT_EQ(last[8], "          Health  96.2% (5000mAh of 5200mAh)");
    for (const auto& line : last)
        EXPECT_EQ(line.find("  ", 14), 16u) << line;
    EXPECT_EQ(out.str().find('\x1b'), std::string::npos) << "no terminal codes into a file";
}

TEST_F(TerminalFrontEndTest, RedrawMovesBackOverTheLastBlock)
{
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Redraw);
    frontEnd.start();
    const std::string first = out.str();
    EXPECT_EQ(first.find("\x1b[9A"), std::string::npos);
    tick();
    const std::string second = out.str().substr(first.size());
    EXPECT_EQ(second.rfind("\x1b[9A", 0), 0u) << "back to the top of the block";
    EXPECT_EQ(occurrences(second, "\r\x1b[2K"), 9) << "every line cleared before it is written";
    EXPECT_EQ(occurrences(second, "\n"), 9);
}

TEST_F(TerminalFrontEndTest, JsonLinesCarryTheNineTextsAndTheFigures)
{
    // A comma-decimal locale must not reach the numbers.
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    runFor(600);
    battery.set("CurrentCapacity", std::int64_t{4250});
    tick();
    std::setlocale(LC_ALL, "C");
    if (!german)
        std::cerr << "de_DE.UTF-8 not installed: the locale part of this test did not run\n";

    const auto all = lines(out.str());
    ASSERT_EQ(all.size(), 122u);
    for (const auto& line : all)
        EXPECT_EQ(parse(line).size(), 14) << line;
    const QJsonObject last = parse(all.back());
    EXPECT_EQ(last["timeAwakeLabel"].toString(), "00:10");
    EXPECT_EQ(last["consumptionLabel"].toString(), "25.0 %/h (25.0 %/h recent, 25.0 %/h avg)");
    EXPECT_EQ(last["healthLabel"].toString(), "96.2% (5000mAh of 5200mAh)");
    EXPECT_EQ(last["currentChargeLabel"].toString(), "85.0%");
    EXPECT_DOUBLE_EQ(last["charge"].toDouble(), 0.85);
    EXPECT_DOUBLE_EQ(last["currentMA"].toDouble(), 1250);
    EXPECT_DOUBLE_EQ(last["ratePerHour"].toDouble(), 25);
    EXPECT_DOUBLE_EQ(last["recentPerHour"].toDouble(), 25);
    EXPECT_DOUBLE_EQ(last["averagePerHour"].toDouble(), 25);
}

TEST_F(TerminalFrontEndTest, JsonWithoutABatteryHasNullsAndEscapedTexts)
{
    battery.clear();
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    const QJsonObject first = parse(lines(out.str()).at(0));
    for (const char* figure : {"charge", "currentMA", "ratePerHour", "recentPerHour", "averagePerHour"})
        EXPECT_TRUE(first[figure].isNull()) << figure;
    EXPECT_FALSE(first["healthLabel"].toString().isEmpty());

    TextField* field = controller->healthLabel;
    field->setText("a \"quoted\"\\path\twith\ncontrols");
    EXPECT_EQ(parse(frontEnd.jsonLine())["healthLabel"].toString(), "a \"quoted\"\\path\twith\ncontrols");
}

TEST_F(TerminalFrontEndTest, StopClosesAndSavesOnceAndWritesNoMore)
{
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    runFor(60);
    frontEnd.stop();
    frontEnd.stop();
    EXPECT_EQ(occurrences(log(), "Quitting app"), 1);
    EXPECT_DOUBLE_EQ(QSettingsPreferenceStore().doubleForKey("batteryUsage.lastHeartBeat"), clock.now());
    const auto written = out.str().size();
    tick();
    EXPECT_EQ(out.str().size(), written);
}

TEST_F(TerminalFrontEndTest, AStreamThatFailsIsReported)
{
    TerminalFrontEnd frontEnd(*controller, out, TerminalFrontEnd::Format::Blocks);
    int lost = 0;
    frontEnd.outputLost = [&] { ++lost; };
    frontEnd.start();
    EXPECT_EQ(lost, 0);
    out.setstate(std::ios::badbit);
    tick();
    EXPECT_EQ(lost, 1);
}

} // namespace
} // namespace drainwatch::test
