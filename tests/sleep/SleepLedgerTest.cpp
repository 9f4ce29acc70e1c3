// SPDX-License-Identifier: MIT
#include "sleep/SleepLedger.h"
#include "support/Fakes.h"
#include "support/HistoryFiles.h"
#include "support/Records.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drainwatch {
namespace {

using test::readFile;
using test::Said;
using test::sleepRecord;
using test::sqlExec;
using test::sqlValue;

// A history file with a record a rate, closed again.
void writeHistory(const std::filesystem::path& file, const std::vector<double>& rates)
{
    SleepLedger ledger(file, SleepLedger::Access::ReadWrite, nullptr);
    for (double rate : rates)
        ledger.add(sleepRecord(rate));
}

TEST(SleepLedger, KeepsRecordsInAWalFileAcrossOpens)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "state" / "Drainwatch" / "history.sqlite";
    Said said;
    SleepRecord night = sleepRecord();
    night.wokenBy->push_back("AT Translated Set 2 keyboard"); // a name of words
    SleepRecord unknowns;
    unknowns.how = "not running";
    unknowns.flags = {"not running"};
    {
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
        ASSERT_TRUE(ledger.isOpen());
        EXPECT_FALSE(ledger.latest());
        EXPECT_TRUE(ledger.add(night));
        EXPECT_TRUE(ledger.add(unknowns));
        // A reader beside the writer, as `drainwatch --sleeps` is.
        SleepLedger reader(file, SleepLedger::Access::ReadOnly, said.report());
        EXPECT_EQ(reader.records().size(), 2u);
    }
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(sqlValue(file, "PRAGMA user_version"), "5");
    SleepLedger again(file, SleepLedger::Access::ReadWrite, said.report());
    const auto records = again.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], night);
    EXPECT_EQ(records[1], unknowns);
    EXPECT_EQ(again.latest(), unknowns);
    EXPECT_TRUE(said.messages.empty());
}

TEST(SleepLedger, ComparableRatesByModeNewestFirst)
{
    SleepLedger ledger;
    ledger.add(sleepRecord(1.0));
    ledger.add(sleepRecord(2.0, "deep"));
    ledger.add(sleepRecord(3.0));
    ledger.add(sleepRecord(4.0, std::nullopt));
    SleepRecord charged = sleepRecord(5.0);
    charged.onBattery = false;
    ledger.add(charged);
    ledger.add(sleepRecord(6.0));
    EXPECT_EQ(ledger.comparableRates("s2idle", 10), (std::vector<double>{6.0, 3.0, 1.0}));
    EXPECT_EQ(ledger.comparableRates("s2idle", 2), (std::vector<double>{6.0, 3.0}));
    EXPECT_EQ(ledger.comparableRates(std::nullopt, 10), std::vector<double>{4.0});
    EXPECT_TRUE(ledger.comparableRates("shallow", 10).empty());
}

TEST(SleepLedger, SetsADamagedOrForeignFileAsideAndBeginsAgain)
{
    struct Case {
        const char* what;
        void (*make)(const std::filesystem::path&);
    };
    const Case cases[] = {
        {"not a database", [](const std::filesystem::path& f) { std::ofstream(f) << "not SQLite at all\n"; }},
        {"another program's database",
         [](const std::filesystem::path& f) {
             sqlExec(f, "CREATE TABLE songs(title TEXT); INSERT INTO songs VALUES('x');");
         }},
        {"a history with its pages overwritten",
         [](const std::filesystem::path& f) {
             writeHistory(f, std::vector<double>(200, 1.0));
             std::fstream out(f, std::ios::in | std::ios::out | std::ios::binary);
             out.seekp(4096);
             out << std::string(4096, '\x5a');
         }},
        {"a history whose end column is named otherwise",
         [](const std::filesystem::path& f) {
             writeHistory(f, {1.0});
             sqlExec(f, "ALTER TABLE sleeps RENAME COLUMN \"end\" TO finish");
         }},
        // Passes quick_check; the first write would find it damaged.
        {"a history whose index disagrees with its table",
         [](const std::filesystem::path& f) {
             std::filesystem::copy_file(
                 std::filesystem::path(DRAINWATCH_TEST_DATA) / "history" / "index-disagrees-with-table.sqlite", f);
         }},
        {"Drainwatch's mark over another program's table",
         [](const std::filesystem::path& f) {
             sqlExec(f, "CREATE TABLE sleeps(title TEXT); PRAGMA application_id=1148350039; PRAGMA user_version=1;");
         }},
    };
    for (const Case& c : cases) {
        test::TemporaryFolder folder;
        const auto file = folder.path() / "history.sqlite";
        c.make(file);
        const std::string before = readFile(file);
        Said said;
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
        ASSERT_EQ(said.messages.size(), 1u) << c.what;
        EXPECT_NE(said.messages[0].find("history.sqlite.corrupt"), std::string::npos) << said.messages[0];
        EXPECT_EQ(readFile(file.string() + ".corrupt"), before) << c.what;
        EXPECT_TRUE(ledger.records().empty()) << c.what;
        EXPECT_TRUE(ledger.add(sleepRecord())) << c.what;
        EXPECT_EQ(ledger.records().size(), 1u) << c.what;
    }
}

TEST(SleepLedger, AFolderItCannotWriteIsSaidOnceAndLosesNothingElse)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    test::TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0500);
    Said said;
    SleepLedger ledger(folder.path() / "Drainwatch" / "history.sqlite", SleepLedger::Access::ReadWrite, said.report());
    EXPECT_FALSE(ledger.isOpen());
    EXPECT_FALSE(ledger.add(sleepRecord()));
    EXPECT_TRUE(ledger.records().empty());
    EXPECT_EQ(said.messages.size(), 1u);
    ::chmod(folder.path().c_str(), 0700);
}

// Writes until the disk is full, as a file-size limit makes it; 0 when the
// failure was said once and what was kept before stays readable.
int fillTheDisk(const std::filesystem::path& file)
{
    std::signal(SIGXFSZ, SIG_IGN);
    Said said;
    SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
    const rlimit limit{rlim_t{64} * 1024, rlim_t{64} * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int kept = 0;
    while (kept < 100000 && ledger.add(sleepRecord()))
        ++kept;
    const bool laterFails = !ledger.add(sleepRecord(2.0));
    const bool readable = ledger.records().size() == static_cast<std::size_t>(kept);
    const bool saidOnce = said.messages.size() == 1;
    return kept > 0 && laterFails && readable && saidOnce ? 0 : 1;
}

TEST(SleepLedger, AFullDiskIsSaidOnce)
{
    test::TemporaryFolder folder;
    EXPECT_EXIT(std::_Exit(fillTheDisk(folder.path() / "history.sqlite")), ::testing::ExitedWithCode(0), "");
}

TEST(SleepLedger, ReadingNeverMakesOrChangesAFile)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    Said said;
    SleepLedger missing(file, SleepLedger::Access::ReadOnly, said.report());
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(said.messages.empty());

    // An empty file is no history yet: nothing to say.
    std::ofstream(file).close();
    SleepLedger empty(file, SleepLedger::Access::ReadOnly, said.report());
    EXPECT_TRUE(empty.records().empty());
    EXPECT_TRUE(said.messages.empty());
    EXPECT_EQ(std::filesystem::file_size(file), 0u);

    std::ofstream(file) << "garbage\n";
    SleepLedger garbage(file, SleepLedger::Access::ReadOnly, said.report());
    EXPECT_FALSE(garbage.isOpen());
    EXPECT_EQ(said.messages.size(), 1u);
    EXPECT_EQ(readFile(file), "garbage\n");
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".corrupt"));
}

TEST(SleepLedger, ANewerSchemaIsLeftAlone)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    writeHistory(file, {1.0});
    sqlExec(file, "PRAGMA user_version=6");
    for (auto access : {SleepLedger::Access::ReadWrite, SleepLedger::Access::ReadOnly}) {
        Said said;
        SleepLedger ledger(file, access, said.report());
        EXPECT_FALSE(ledger.isOpen());
        ASSERT_EQ(said.messages.size(), 1u);
        EXPECT_NE(said.messages[0].find("schema version 6"), std::string::npos) << said.messages[0];
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".corrupt"));
    }
}

// A flipped bit in a stored figure can make it infinite; SQLite keeps it.
TEST(SleepLedger, AnInfiniteFigureIsNeverReadBack)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    writeHistory(file, {1.0, 2.0, 3.0, 4.0});
    sqlExec(file, "UPDATE sleeps SET rate_per_hour = 9e999, milliwatts = -9e999 WHERE id = 2;"
                  "UPDATE sleeps SET start = 9e999 WHERE id = 4;"
                  "UPDATE sleeps SET rate_per_hour = NULL WHERE id = 3;");
    for (auto access : {SleepLedger::Access::ReadWrite, SleepLedger::Access::ReadOnly}) {
        Said said;
        SleepLedger ledger(file, access, said.report());
        const auto records = ledger.records();
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[1].start, 1800000000);
        EXPECT_FALSE(records[1].ratePerHour);
        EXPECT_FALSE(records[1].milliwatts);
        EXPECT_EQ(records[1].usedPercentage, 16.0);
        // The newest that can be shown, not the infinite one after it.
        EXPECT_FALSE(records[2].ratePerHour);
        EXPECT_EQ(ledger.latest(), records[2]);
        EXPECT_EQ(ledger.newest(2), (std::vector<SleepRecord>{records[2], records[1]}));
        // The rate of the fourth is whole though its start is not.
        EXPECT_EQ(ledger.comparableRates("s2idle", 10), (std::vector<double>{4.0, 1.0}));
        EXPECT_EQ(ledger.comparableRates("s2idle", 1), std::vector<double>{4.0});
        EXPECT_TRUE(said.messages.empty());
    }
}

} // namespace
} // namespace drainwatch
