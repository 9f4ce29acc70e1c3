#include "log/Logger.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <locale>

namespace drainwatch {
namespace {

using test::readFile;
using namespace testing::internal;

constexpr double kMorning = 1800003903.0; // 2027-01-15 09:05:03 UTC
constexpr double kAfternoon = 1800020460.0; // 2027-01-15 13:41:00 UTC

long lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

class LoggerTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The logger reads the zone once; settle it before the first stamp.
        setenv("TZ", "UTC", 1);
        tzset();
        setenv("XDG_STATE_HOME", home.path().c_str(), 1);
    }
    void TearDown() override { Logger::installMain(nullptr); }

    std::filesystem::path logPath() const { return home.path() / "Logs" / "Drainwatch" / "Drainwatch.log"; }

    test::TemporaryFolder home;
    test::FakeClock clock{kMorning};
};

TEST_F(LoggerTest, FirstRunCreatesTheFoldersAndAnnouncesTheUrlOnce)
{
    CaptureStdout();
    Logger log(Logger::defaultPath("Drainwatch.log"), clock);
    EXPECT_EQ(GetCapturedStdout(), "file://" + logPath().string() + "\n");
    EXPECT_EQ(log.fileURL(), "file://" + logPath().string());
    EXPECT_EQ(readFile(logPath()), "");
    log.debug("Started");
    EXPECT_EQ(readFile(logPath()), "[09:05:03] Started\n");
}

TEST_F(LoggerTest, LaterRunPrintsNothingAndAppends)
{
    CaptureStdout();
    Logger(logPath(), clock).write("first run");
    (void)GetCapturedStdout();

    CaptureStdout();
    Logger(logPath(), clock).write("second run");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(readFile(logPath()), "first run\nsecond run\n");
}

TEST_F(LoggerTest, TwoLoggersOnOneFileNeverOverwriteEachOther)
{
    Logger a(logPath(), clock, false), b(logPath(), clock, false);
    a.write("1");
    b.write("2");
    a.write("3");
    EXPECT_EQ(readFile(logPath()), "1\n2\n3\n");
}

TEST_F(LoggerTest, MainLoggerLivesUnderXdgStateHomeElseUnderHome)
{
    CaptureStdout();
    Logger::main().write("hello");
    EXPECT_EQ(GetCapturedStdout(), Logger::main().fileURL() + "\n");
    EXPECT_EQ(Logger::main().filePath(), logPath());
    EXPECT_EQ(readFile(logPath()), "hello\n");

    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "/root";
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_STATE_HOME", "relative/state", 1); // not absolute, so not used
    EXPECT_EQ(Logger::defaultPath("x.log"), "/home/someone/.local/state/Logs/Drainwatch/x.log");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(LoggerTest, UrlEscapesWhatCannotStandInAPath)
{
    Logger log(home.path() / "my state #1" / "a.log", clock, false);
    EXPECT_EQ(log.fileURL(), "file://" + home.path().string() + "/my%20state%20%231/a.log");
}

TEST_F(LoggerTest, StampIsTheLocalTimeOfDayWithoutDate)
{
    Logger log(logPath(), clock, false);
    log.debug("morning");
    clock.time = kAfternoon + 0.999; // fractions never round up into the next second
    log.debug("afternoon");
    setenv("TZ", "XYZ-2", 1); // two hours east of UTC, no zone data needed
    tzset();
    log.debug("elsewhere");
    EXPECT_EQ(readFile(logPath()), "[09:05:03] morning\n[13:41:00] afternoon\n[15:41:00] elsewhere\n");
}

TEST_F(LoggerTest, MessagesArePrintfExpandedEvenWithoutArguments)
{
    Logger log(logPath(), clock, false);
    log.debug("100%% charged");
    log.write("%s used %d%%", "Drainwatch", 7);
    log.write("");
    log.debug("");
    EXPECT_EQ(readFile(logPath()), "[09:05:03] 100% charged\nDrainwatch used 7%\n\n[09:05:03] \n");
}

struct CLocaleAtExit {
    ~CLocaleAtExit()
    {
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        unsetenv("LC_ALL");
    }
};

TEST_F(LoggerTest, NumbersUseADecimalPointWhateverTheLocale)
{
    CLocaleAtExit restore;
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr) << "the de_DE.UTF-8 locale is not installed";
    std::locale::global(std::locale(""));
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5") << "this test means nothing without a decimal comma";

    Logger log(logPath(), clock, false);
    log.write("%.1f mA", 1234.56);
    log.debug("%g %g %g %g", 20.5, 3600.0, 1.7e9, 0.686931);
    EXPECT_EQ(readFile(logPath()), "1234.6 mA\n[09:05:03] 20.5 3600 1.7e+09 0.686931\n");
}

TEST_F(LoggerTest, UnopenableLogIsReportedOnceByPathAndTheProgramRunsOn)
{
    const auto blocker = home.path() / "blocker";
    std::ofstream(blocker) << "not a folder"; // root ignores permissions, not this
    setenv("XDG_STATE_HOME", blocker.c_str(), 1);
    std::filesystem::create_directories(home.path() / "dir.log");

    for (const auto& [file, named] : {std::pair{Logger::defaultPath("Drainwatch.log"), blocker / "Logs" / "Drainwatch"},
                                      std::pair{home.path() / "dir.log", home.path() / "dir.log"}}) {
        CaptureStdout();
        CaptureStderr();
        Logger log(file, clock);
        log.debug("dropped");
        log.write("dropped too");
        const std::string err = GetCapturedStderr();
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_FALSE(log.isOpen());
        EXPECT_EQ(lineCount(err), 1) << err;
        EXPECT_NE(err.find(named.string()), std::string::npos) << err;
    }
    EXPECT_EQ(readFile(blocker), "not a folder");
}

TEST_F(LoggerTest, FailingWritesAreReportedOnceNotPerLine)
{
    Logger log("/dev/full", clock, false);
    ASSERT_TRUE(log.isOpen());
    CaptureStderr();
    log.debug("one");
    log.write("two");
    log.debug("three");
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(lineCount(err), 1) << err;
    EXPECT_NE(err.find("/dev/full"), std::string::npos) << err;
}

} // namespace
} // namespace drainwatch
