// SPDX-License-Identifier: MIT
#include "activity/AppsText.h"

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

SpanActivity hourWithTwoApps()
{
    SpanActivity span;
    span.seconds = 3600;
    span.measuredWh = 12;
    span.cpuSeconds = 2700;
    span.screenSeconds = 1800;
    span.uses = {{"app:firefox", "Firefox", "firefox", ActivityKind::App, 1800, std::nullopt},
                 {"app:evil", "Evil\n<b>App</b>\x1b[2J\"quoted\", too", "", ActivityKind::App, 900, std::nullopt}};
    return span;
}

PowerModel learned()
{
    PowerModel model;
    model.baseW = 4;
    model.cpuW = 6;
    model.screenW = 2;
    model.r2 = 0.95;
    model.heldOutErrorW = 0.3;
    model.minutes = 600;
    return model;
}

TEST(AppsText, NamesFromTheMachineCannotBreakATerminalAJsonLineOrACsvRow)
{
    const SpanActivity span = hourWithTwoApps();
    const std::string table = appsTable(learned(), span);
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_NE(table.find("Evil<b>App</b>[2J\"quoted\", too"), std::string::npos) << table;
    // One line a row: header, two apps, screen, base, unexplained, the measure, the model.
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 8);

    const std::string json = appsJsonLines(learned(), span);
    EXPECT_NE(json.find(R"("name":"Evil\u000a<b>App</b>\u001b[2J\"quoted\", too")"), std::string::npos) << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 5);

    const std::string csv = appsCsv(learned(), span);
    EXPECT_NE(csv.find("\"Evil\n<b>App</b>\x1b[2J\"\"quoted\"\", too\",app,"), std::string::npos) << csv;
}

TEST(AppsText, TheRowsAddUpToTheBatteryAndTheFiguresAreRounded)
{
    const std::string json = appsJsonLines(learned(), hourWithTwoApps());
    // Firefox 6 W × 0.5 h, the other 6 W × 0.25 h, screen 2 W × 0.5 h, base 4 Wh, 2.5 Wh unexplained.
    EXPECT_NE(json.find(R"("name":"Firefox","kind":"app","energyWh":3,"share":0.25,"meanW":3,"cpuSeconds":1800)"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("kind":"screen","energyWh":1,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("kind":"unexplained","energyWh":2.5,)"), std::string::npos) << json;
    EXPECT_EQ(topApplication(learned(), hourWithTwoApps()), "Firefox");
}

TEST(AppsText, WhileLearningOnlyTheCpuTimeIsShownAndNothingIsNan)
{
    PowerModel learning;
    learning.minutes = 40;
    SpanActivity span = hourWithTwoApps();
    const std::string table = appsTable(learning, span);
    EXPECT_NE(table.find("learning this laptop: 40 of 120 minutes"), std::string::npos) << table;
    EXPECT_NE(table.find("0:30:00"), std::string::npos) << table;
    EXPECT_EQ(table.find("Base"), std::string::npos);
    const std::string json = appsJsonLines(learning, span);
    EXPECT_NE(json.find(R"("energyWh":null,"share":null,"meanW":null,"cpuSeconds":1800)"), std::string::npos) << json;
    // An empty span: no rows, no division by its zero seconds.
    const std::string empty = appsTable(learned(), SpanActivity{}) + appsJsonLines(learned(), SpanActivity{}) +
                              appsCsv(learned(), SpanActivity{});
    EXPECT_EQ(empty.find("nan"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("inf"), std::string::npos) << empty;
    EXPECT_EQ(topApplication(learning, SpanActivity{}), "");
}

TEST(AppsText, APrintableNameIsCutAtACharacterNotInsideOne)
{
    EXPECT_EQ(printableName(std::string(45, 'a')), std::string(40, 'a'));
    std::string umlauts;
    for (int i = 0; i < 45; ++i)
        umlauts += "ü";
    EXPECT_EQ(printableName(umlauts).size(), 80u);
    EXPECT_EQ(printableName("\n\t"), "(no name)");
}

} // namespace
} // namespace drainwatch
