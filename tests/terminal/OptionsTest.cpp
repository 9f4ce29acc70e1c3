// SPDX-License-Identifier: MIT
#include "terminal/Options.h"

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

TEST(OptionsTest, FlagsCombineJsonMeansTerminalAndAnythingElseIsAnErrorThatNamesIt)
{
    const Options none = Options::parse({});
    EXPECT_FALSE(none.terminal || none.json || none.simulate || none.help || none.version || !none.error.empty());
    const Options json = Options::parse({"--json", "--simulate"});
    EXPECT_TRUE(json.json && json.terminal && json.simulate && !json.tray && json.error.empty());
    EXPECT_TRUE(Options::parse({"--tray"}).tray);

    const std::string unknown = Options::parse({"--terminal", "--jsn", "--bogus"}).error;
    EXPECT_TRUE(unknown.find("'--jsn'") != std::string::npos && unknown.find("--help") != std::string::npos) << unknown;
    EXPECT_NE(Options::parse({"file.log"}).error.find("'file.log'"), std::string::npos);
    EXPECT_FALSE(Options::parse({"-platform"}).error.empty()) << "Qt's own options are not taken";
}

TEST(OptionsTest, HistoryTakesCheckedDaysAndDischargesTakeCsv)
{
    const Options history = Options::parse({"--history", "--since", "2026-12-01", "--until=2026-12-09"});
    EXPECT_TRUE(history.history && history.error.empty()) << history.error;
    EXPECT_EQ(history.since, "2026-12-01");
    EXPECT_EQ(history.until, "2026-12-09");
    const Options csv = Options::parse({"--discharges", "--csv"});
    EXPECT_TRUE(csv.discharges && csv.csv && csv.error.empty());

    for (const char* date : {"2026-02-29", "2026-00-10", "2026-12-32", "26-12-01", "2026-12-1x", ""}) {
        const std::string error = Options::parse({"--history", "--until", date}).error;
        EXPECT_NE(error.find("--until takes a date as YYYY-MM-DD"), std::string::npos) << date << ": " << error;
    }
    EXPECT_TRUE(Options::parse({"--history", "--since", "2028-02-29"}).error.empty()) << "a leap day";
    EXPECT_NE(Options::parse({"--history", "--since"}).error.find("needs a date"), std::string::npos);
    EXPECT_FALSE(Options::parse({"--since", "2026-12-01"}).error.empty()) << "only with --history";
    EXPECT_FALSE(Options::parse({"--history", "--csv"}).error.empty()) << "--csv is for --discharges";
    EXPECT_FALSE(Options::parse({"--history", "--discharges"}).error.empty());
}

} // namespace
} // namespace drainwatch
