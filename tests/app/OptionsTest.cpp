#include "app/Options.h"

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

} // namespace
} // namespace drainwatch
