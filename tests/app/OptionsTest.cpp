#include "app/Options.h"
#include "app/TrayIcon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace drainwatch {
namespace {

TEST(OptionsTest, FlagsCombineAndJsonMeansTerminal)
{
    const Options none = Options::parse({});
    EXPECT_FALSE(none.terminal || none.json || none.simulate || none.help || none.version || none.batteryInfo);
    EXPECT_TRUE(none.error.empty());

    const Options json = Options::parse({"--json", "--simulate"});
    EXPECT_TRUE(json.json);
    EXPECT_TRUE(json.terminal);
    EXPECT_TRUE(json.simulate);
    EXPECT_TRUE(json.error.empty());

    EXPECT_TRUE(Options::parse({"-h"}).help);
    EXPECT_TRUE(Options::parse({"--battery-info"}).batteryInfo);
    EXPECT_FALSE(Options::parse({"--terminal"}).json);
}

TEST(OptionsTest, AnythingElseIsAnErrorThatNamesIt)
{
    const Options unknown = Options::parse({"--terminal", "--jsn", "--bogus"});
    EXPECT_NE(unknown.error.find("'--jsn'"), std::string::npos) << unknown.error;
    EXPECT_NE(unknown.error.find("--help"), std::string::npos) << unknown.error;
    EXPECT_NE(Options::parse({"file.log"}).error.find("'file.log'"), std::string::npos);
    // Qt's own options are not passed through.
    EXPECT_FALSE(Options::parse({"-platform"}).error.empty());
}

TEST(TrayToolTipTest, ChargeAndRateWhereKnown)
{
    MonitorFigures figures;
    EXPECT_EQ(trayToolTip(figures, "Drainwatch"), "Drainwatch: no battery reading");
    figures.charge = 0.7413;
    EXPECT_EQ(trayToolTip(figures, "Drainwatch"), "Drainwatch: 74.1%");
    figures.ratePerHour = 23.06;
    EXPECT_EQ(trayToolTip(figures, "Drainwatch"), "Drainwatch: 74.1%, 23.1 %/h");
    figures.ratePerHour = -35;
    EXPECT_EQ(trayToolTip(figures, "Drainwatch (simulated battery)"),
              "Drainwatch (simulated battery): 74.1%, charging 35.0 %/h");
    figures.charge = std::numeric_limits<double>::quiet_NaN();
    figures.ratePerHour = std::numeric_limits<double>::infinity();
    EXPECT_EQ(trayToolTip(figures, "Drainwatch"), "Drainwatch: no battery reading");
}

} // namespace
} // namespace drainwatch
