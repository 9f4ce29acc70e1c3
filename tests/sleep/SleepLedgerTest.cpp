// SPDX-License-Identifier: MIT
#include "sleep/SleepLedger.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drainwatch {
namespace {

SleepRecord sample(double rate, std::optional<std::string> mode = "deep")
{
    SleepRecord r;
    r.how = "suspend";
    r.start = 1800000000;
    r.end = 1800007200;
    r.asleepSeconds = 7200;
    r.mode = std::move(mode);
    r.onBattery = true;
    r.chargeBefore = 0.8;
    r.chargeAfter = 0.8 - rate * 2 / 100;
    r.usedPercentage = rate * 2;
    r.ratePerHour = rate;
    r.wokenBy = {"PNP0C0D:00", "AT Translated Set 2 keyboard"};
    r.flags = {"shallow", "high drain"};
    r.cycles = 3;
    return r;
}

struct Said {
    std::vector<std::string> messages;
    SleepLedger::Report report()
    {
        return [this](const std::string& m) { messages.push_back(m); };
    }
};

std::string sqlValue(const std::filesystem::path& file, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    std::string value =
        s && sqlite3_step(s) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(s, 0)) : "";
    sqlite3_finalize(s);
    sqlite3_close(db);
    return value;
}

TEST(SleepLedger, KeepsRecordsInAWalFileAcrossOpens)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "state" / "Drainwatch" / "history.sqlite";
    Said said;
    SleepRecord unknowns;
    unknowns.how = "not running";
    unknowns.flags = {"not running"};
    {
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
        ASSERT_TRUE(ledger.isOpen());
        EXPECT_FALSE(ledger.latest());
        EXPECT_TRUE(ledger.add(sample(1.0)));
        EXPECT_TRUE(ledger.add(unknowns));
        // A reader beside the writer, as `drainwatch --sleeps` is.
        SleepLedger reader(file, SleepLedger::Access::ReadOnly, said.report());
        EXPECT_EQ(reader.records().size(), 2u);
    }
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(sqlValue(file, "PRAGMA user_version"), "2");
    SleepLedger again(file, SleepLedger::Access::ReadWrite, said.report());
    const auto records = again.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], sample(1.0));
    EXPECT_EQ(records[1], unknowns);
    EXPECT_EQ(again.latest(), unknowns);
    EXPECT_TRUE(said.messages.empty());
}

TEST(SleepLedger, ComparableRatesByModeNewestFirst)
{
    SleepLedger ledger;
    ledger.add(sample(1.0));
    ledger.add(sample(2.0, "s2idle"));
    ledger.add(sample(3.0));
    ledger.add(sample(4.0, std::nullopt));
    SleepRecord charged = sample(5.0);
    charged.onBattery = false;
    ledger.add(charged);
    ledger.add(sample(6.0));
    EXPECT_EQ(ledger.comparableRates("deep", 10), (std::vector<double>{6.0, 3.0, 1.0}));
    EXPECT_EQ(ledger.comparableRates("deep", 2), (std::vector<double>{6.0, 3.0}));
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
             sqlite3* db = nullptr;
             sqlite3_open(f.c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE songs(title TEXT); INSERT INTO songs VALUES('x');", nullptr, nullptr,
                          nullptr);
             sqlite3_close(db);
         }},
        {"a history with its pages overwritten",
         [](const std::filesystem::path& f) {
             {
                 SleepLedger ledger(f, SleepLedger::Access::ReadWrite, nullptr);
                 for (int i = 0; i < 200; ++i)
                     ledger.add(sample(i));
             }
             std::fstream out(f, std::ios::in | std::ios::out | std::ios::binary);
             out.seekp(4096);
             out << std::string(4096, '\x5a');
         }},
        {"a history whose end column is named otherwise",
         [](const std::filesystem::path& f) {
             {
                 SleepLedger ledger(f, SleepLedger::Access::ReadWrite, nullptr);
                 ledger.add(sample(1.0));
             }
             sqlite3* db = nullptr;
             sqlite3_open(f.c_str(), &db);
             sqlite3_exec(db, "ALTER TABLE sleeps RENAME COLUMN \"end\" TO finish", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         }},
        // Passes quick_check; the first write would find it damaged.
        {"a history whose index disagrees with its table",
         [](const std::filesystem::path& f) {
             std::filesystem::copy_file(
                 std::filesystem::path(DRAINWATCH_TEST_DATA) / "history" / "index-disagrees-with-table.sqlite", f);
         }},
        {"Drainwatch's mark over another program's table",
         [](const std::filesystem::path& f) {
             sqlite3* db = nullptr;
             sqlite3_open(f.c_str(), &db);
             sqlite3_exec(db,
                          "CREATE TABLE sleeps(title TEXT); PRAGMA application_id=1148350039; PRAGMA user_version=1;",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
         }},
    };
    for (const Case& c : cases) {
        test::TemporaryFolder folder;
        const auto file = folder.path() / "history.sqlite";
        c.make(file);
        const std::string before = test::readFile(file);
        Said said;
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
        ASSERT_EQ(said.messages.size(), 1u) << c.what;
        EXPECT_NE(said.messages[0].find("history.sqlite.corrupt"), std::string::npos) << said.messages[0];
        EXPECT_EQ(test::readFile(file.string() + ".corrupt"), before) << c.what;
        EXPECT_TRUE(ledger.records().empty()) << c.what;
        EXPECT_TRUE(ledger.add(sample(1.0))) << c.what;
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
    EXPECT_FALSE(ledger.add(sample(1.0)));
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
    while (kept < 100000 && ledger.add(sample(1.0)))
        ++kept;
    const bool laterFails = !ledger.add(sample(2.0));
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
    EXPECT_EQ(test::readFile(file), "garbage\n");
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".corrupt"));
}

TEST(SleepLedger, ANewerSchemaIsLeftAlone)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    {
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, nullptr);
        ledger.add(sample(1.0));
    }
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=3", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    for (auto access : {SleepLedger::Access::ReadWrite, SleepLedger::Access::ReadOnly}) {
        Said said;
        SleepLedger ledger(file, access, said.report());
        EXPECT_FALSE(ledger.isOpen());
        ASSERT_EQ(said.messages.size(), 1u);
        EXPECT_NE(said.messages[0].find("schema version 3"), std::string::npos) << said.messages[0];
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".corrupt"));
    }
}

// A flipped bit in a stored figure can make it infinite; SQLite keeps it.
TEST(SleepLedger, AnInfiniteFigureIsNeverReadBack)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    {
        SleepLedger ledger(file, SleepLedger::Access::ReadWrite, nullptr);
        for (double rate : {1.0, 2.0, 3.0, 4.0})
            ledger.add(sample(rate));
    }
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 "UPDATE sleeps SET rate_per_hour = 9e999, milliwatts = -9e999 WHERE id = 2;"
                 "UPDATE sleeps SET start = 9e999 WHERE id = 4;"
                 "UPDATE sleeps SET rate_per_hour = NULL WHERE id = 3;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    for (auto access : {SleepLedger::Access::ReadWrite, SleepLedger::Access::ReadOnly}) {
        Said said;
        SleepLedger ledger(file, access, said.report());
        const auto records = ledger.records();
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[1].start, 1800000000);
        EXPECT_FALSE(records[1].ratePerHour);
        EXPECT_FALSE(records[1].milliwatts);
        EXPECT_EQ(records[1].usedPercentage, 4.0);
        // The newest that can be shown, not the infinite one after it.
        EXPECT_FALSE(records[2].ratePerHour);
        EXPECT_EQ(ledger.latest(), records[2]);
        EXPECT_EQ(ledger.newest(2), (std::vector<SleepRecord>{records[2], records[1]}));
        // The rate of the fourth is whole though its start is not.
        EXPECT_EQ(ledger.comparableRates("deep", 10), (std::vector<double>{4.0, 1.0}));
        EXPECT_EQ(ledger.comparableRates("deep", 1), std::vector<double>{4.0});
        EXPECT_TRUE(said.messages.empty());
    }
}

} // namespace
} // namespace drainwatch
