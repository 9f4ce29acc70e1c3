// SPDX-License-Identifier: MIT
#include "log/Logger.h"
#include "log/UserHome.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <locale>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drainwatch {
namespace {

using test::readFile;
using namespace testing::internal;

constexpr double kMorning = 1800003903.0; // 2027-01-15 09:05:03 UTC

class LoggerTest : public test::LoggedTest {
protected:
    LoggerTest() : LoggedTest(kMorning) { setenv("XDG_STATE_HOME", folder.path().c_str(), 1); }
    std::filesystem::path logPath() const { return folder.path() / "Logs" / "Drainwatch" / "Drainwatch.log"; }
};

TEST_F(LoggerTest, FirstRunCreatesTheFileAndAnnouncesItsUrlALaterRunAppends)
{
    CaptureStdout();
    Logger::main().write("first run");
    EXPECT_EQ(GetCapturedStdout(), "file://" + logPath().string() + "\n");
    Logger::installMain(nullptr);

    CaptureStdout();
    Logger(Logger::defaultPath("Drainwatch.log"), clock).write("second run");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(readFile(logPath()), "first run\nsecond run\n");
}

TEST_F(LoggerTest, RelativeXdgFoldersAreIgnoredAndWithoutHomeThePasswordDatabaseNamesTheHomeNeverTmp)
{
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "/root";
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_STATE_HOME", "relative/state", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(Logger::defaultPath("x.log"), "/home/someone/.local/state/Logs/Drainwatch/x.log");
    EXPECT_EQ(configHome(), "/home/someone/.config");
    unsetenv("HOME");
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_CONFIG_HOME");
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(Logger::defaultPath("x.log"),
              std::filesystem::path(entry->pw_dir) / ".local/state/Logs/Drainwatch/x.log");
    EXPECT_EQ(configHome(), std::filesystem::path(entry->pw_dir) / ".config");
    setenv("XDG_CONFIG_HOME", "/elsewhere", 1);
    EXPECT_EQ(configHome(), "/elsewhere");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(LoggerTest, ATimeNoCalendarHoldsIsStampedAsUnknown)
{
    Logger log(logPath(), clock, false);
    for (const double time : {1e300, -1e300, 1e17})
        log.debug("%g", (clock.time = time));
    EXPECT_EQ(readFile(logPath()), "[--:--:--] 1e+300\n[--:--:--] -1e+300\n[--:--:--] 1e+17\n");
}

// Another user could have put a link or a FIFO where the log goes: it is
// neither followed nor waited for, and what the program makes is private.
TEST_F(LoggerTest, OnlyARegularFileOfTheUsersIsAppendedToAndNewFoldersAndFilesArePrivate)
{
    Logger(logPath(), clock, false).write("first");
    EXPECT_EQ(std::filesystem::status(logPath()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::status(logPath().parent_path()).permissions(), std::filesystem::perms::owner_all);
    const auto target = folder.path() / "chosen-by-someone";
    std::ofstream(target) << "kept\n";
    std::filesystem::remove(logPath());
    std::filesystem::create_symlink(target, logPath());
    const auto fifo = folder.path() / "Logs" / "Drainwatch" / "fifo.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [file, reason] :
         {std::pair{logPath(), "it is a symbolic link"}, std::pair{fifo, "it is not a regular file"}}) {
        CaptureStderr();
        Logger log(file, clock, false);
        log.write("dropped");
        const std::string err = GetCapturedStderr();
        EXPECT_FALSE(log.isOpen());
        EXPECT_NE(err.find(file.string() + ": " + reason), std::string::npos) << err;
    }
    EXPECT_EQ(readFile(target), "kept\n");
}

TEST_F(LoggerTest, StampIsTheLocalTimeOfDayAndMessagesArePrintfExpanded)
{
    Logger log(logPath(), clock, false);
    log.debug("100%% charged");
    clock.time = 1800020460.999; // 13:41:00.999: fractions never round up
    log.write("%s used %d%%", "Drainwatch", 7);
    setenv("TZ", "XYZ-2", 1); // two hours east of UTC, no zone data needed
    tzset();
    log.debug("elsewhere");
    EXPECT_EQ(readFile(logPath()), "[09:05:03] 100% charged\nDrainwatch used 7%\n[15:41:00] elsewhere\n");
}

TEST_F(LoggerTest, NumbersUseADecimalPointWhateverTheLocale)
{
    struct CLocaleAtExit {
        ~CLocaleAtExit()
        {
            std::setlocale(LC_ALL, "C");
            std::locale::global(std::locale::classic());
            unsetenv("LC_ALL");
        }
    } restore;
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr) << "the de_DE.UTF-8 locale is not installed";
    std::locale::global(std::locale(""));
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5") << "this test means nothing without a decimal comma";

    Logger log(logPath(), clock, false);
    log.write("%.1f mA", 1234.56);
    log.debug("%g %g", 1.7e9, 0.686931);
    EXPECT_EQ(readFile(logPath()), "1234.6 mA\n[09:05:03] 1.7e+09 0.686931\n");
}

TEST_F(LoggerTest, UnopenableOrUnwritableLogIsReportedOnceByPathAndTheProgramRunsOn)
{
    const auto blocker = folder.path() / "blocker";
    std::ofstream(blocker) << "not a folder"; // root ignores permissions, not this
    std::filesystem::create_directories(folder.path() / "dir.log");
    for (const auto& [file, named] :
         {std::pair{blocker / "Drainwatch.log", blocker},
          std::pair{folder.path() / "dir.log", folder.path() / "dir.log"},
          std::pair{std::filesystem::path("/dev/full"), std::filesystem::path("/dev/full")}}) {
        CaptureStdout();
        CaptureStderr();
        Logger log(file, clock);
        EXPECT_FALSE(log.isOpen()) << "not a regular file";
        log.debug("dropped");
        log.write("dropped too");
        const std::string err = GetCapturedStderr();
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(named.string()), std::string::npos) << err;
    }
    EXPECT_EQ(readFile(blocker), "not a folder");
}

} // namespace
} // namespace drainwatch
