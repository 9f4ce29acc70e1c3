// SPDX-License-Identifier: MIT
#include "history/HistoryStore.h"
#include "sleep/SleepLedger.h"
#include "support/Fakes.h"
#include "support/HistoryFiles.h"
#include "support/Records.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sqlite3.h>
#include <sys/resource.h>

namespace drainwatch {
namespace {

using test::historySample;
using test::Said;
using test::sleepRecord;
using test::sqlValue;

bool operator==(const HistorySample& a, const HistorySample& b)
{
    return a.time == b.time && a.charge == b.charge && a.currentMA == b.currentMA &&
           a.onExternalPower == b.onExternalPower && a.volts == b.volts && a.fullMAh == b.fullMAh &&
           a.designMAh == b.designMAh && a.cycles == b.cycles && a.event == b.event;
}

std::vector<double> timesOf(const std::vector<HistorySample>& samples)
{
    std::vector<double> times;
    times.reserve(samples.size());
    for (const auto& s : samples)
        times.push_back(s.time);
    return times;
}

TEST(HistoryStore, SamplesWaitForTheFlushAndComeBackInTheirRange)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "Drainwatch" / "history.sqlite";
    Said said;
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
    HistoryStore store(database);
    HistorySample unknowns;
    unknowns.time = 1800000120;
    unknowns.charge = 0.25;
    unknowns.onExternalPower = true;
    unknowns.event = "charger connected";
    store.addSample(historySample(1800000000, "start"));
    store.addSample(historySample(1800000060));
    store.addSample(unknowns);

    // Not yet on disk, but the window's graph sees them already.
    EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM samples"), "0");
    EXPECT_EQ(store.samples(0, 2e9).size(), 3u);
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.waiting(), 0u);
    EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM samples"), "3");

    HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, said.report());
    const auto read = HistoryStore(reader).samples(0, 2e9);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_TRUE(read[0] == historySample(1800000000, "start"));
    EXPECT_TRUE(read[2] == unknowns);
    // Inclusive since, exclusive until; waiting and flushed alike.
    store.addSample(historySample(1800000180));
    EXPECT_EQ(timesOf(store.samples(1800000060, 1800000180)), (std::vector<double>{1800000060, 1800000120}));
    EXPECT_EQ(timesOf(store.samples(1800000120, 1800000181)), (std::vector<double>{1800000120, 1800000180}));
    EXPECT_TRUE(said.messages.empty());
}

// Samples on disk and samples waiting, the later of them from a clock set back.
TEST(HistoryStore, ReadsOldestFirstAfterAClockSetBackAndDeletesWhatIsOlderWaitingOrNot)
{
    HistoryDatabase database(nullptr);
    HistoryStore store(database);
    store.addSample(historySample(1000));
    store.addSample(historySample(3000));
    store.flush();
    store.addSample(historySample(4000));
    store.addSample(historySample(2000));
    EXPECT_EQ(timesOf(store.samples(0, 5000)), (std::vector<double>{1000, 2000, 3000, 4000}));
    store.addDischarge({0, 1500, 1, 1, 1, 0.5, 0, 1, 1, 1});
    store.addDischarge({1600, 2500, 1, 1, 1, 0.5, 0, 1, 1, 1});
    store.deleteOlderThan(2000);
    EXPECT_EQ(timesOf(store.samples(0, 5000)), (std::vector<double>{2000, 3000, 4000}));
    ASSERT_EQ(store.discharges().size(), 1u);
    EXPECT_EQ(store.discharges()[0].end, 2500);
}

TEST(HistoryStore, DischargesAreWrittenAtOnce)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
    HistoryStore store(database);
    DischargeRecord first{1800000000, 1800010000, 7000, 10000, 0.95, 0.41, 0.03, 20000, 21000, 1234.5};
    DischargeRecord second = first;
    second.start = 1800020000;
    second.end = 1800030000;
    store.addDischarge(first);
    store.addDischarge(second);
    HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, nullptr);
    const auto read = HistoryStore(reader).discharges();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].end, first.end);
    EXPECT_EQ(read[0].chargeAtEnd, 0.41);
    EXPECT_EQ(read[0].extrapolatedWithoutSleepSeconds, 21000);
    EXPECT_EQ(read[0].averageMA, 1234.5);
    EXPECT_EQ(read[1].start, second.start);
}

TEST(HistoryStore, OneConnectionForTheLedgerAndTheStore)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
        SleepLedger ledger(database);
        HistoryStore store(database);
        EXPECT_TRUE(ledger.add(sleepRecord()));
        store.addSample(historySample(1800003600, "wake"));
        EXPECT_TRUE(store.flush());
    }
    EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM sleeps"), "1");
    EXPECT_EQ(sqlValue(file, "SELECT event FROM samples"), "wake");
}

// The files in tests/data were written by older Drainwatches: version 1 by
// the first ledger (three sleeps, WAL mode), version 2 by the history store
// (the same three sleeps migrated, and two samples), version 3 by the
// program before the lid's records (version 2 migrated, four samples).
std::filesystem::path copyOfVersion(const test::TemporaryFolder& folder, int version)
{
    auto file = folder.path() / "history.sqlite";
    std::filesystem::copy_file(
        std::filesystem::path(DRAINWATCH_TEST_DATA) / "history" / fmt::format("version-{}.sqlite", version), file);
    return file;
}

std::filesystem::path copyOfVersion1(const test::TemporaryFolder& folder) { return copyOfVersion(folder, 1); }

TEST(HistoryDatabase, AnOlderFileIsMigratedWithEverySleepAndSample)
{
    for (const auto& [version, samples] : {std::pair{1, 0}, std::pair{2, 2}, std::pair{3, 4}, std::pair{4, 6}}) {
        SCOPED_TRACE(version);
        test::TemporaryFolder folder;
        const auto file = copyOfVersion(folder, version);
        ASSERT_EQ(sqlValue(file, "PRAGMA user_version"), std::to_string(version));
        const auto before = SleepLedger(file, SleepLedger::Access::ReadOnly, nullptr).records();
        ASSERT_EQ(before.size(), 3u);
        EXPECT_EQ(before[0].wokenBy, (std::vector<std::string>{"PNP0C0D:00", "ACPI \"lid\""}));
        EXPECT_EQ(before[0].failedStep, std::nullopt);
        // A reader leaves the old file as it is.
        {
            HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, nullptr);
            EXPECT_TRUE(reader.isOpen());
            EXPECT_EQ(HistoryStore(reader).samples(0, 1e12).size(), static_cast<std::size_t>(samples));
        }
        EXPECT_EQ(sqlValue(file, "PRAGMA user_version"), std::to_string(version));

        Said said;
        {
            HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
            SleepLedger ledger(database);
            HistoryStore store(database);
            EXPECT_EQ(ledger.records(), before);
            store.addSample(historySample(1900300000));
            EXPECT_TRUE(store.flush());
            SleepRecord failed = sleepRecord();
            failed.wokenBy.reset();
            failed.heldBy = "blocked by Firefox: Playing video";
            EXPECT_TRUE(ledger.add(failed));
        }
        EXPECT_TRUE(said.messages.empty());
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".corrupt"));
        EXPECT_EQ(sqlValue(file, "PRAGMA user_version"), "5");
        EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM activity_spans"), "0");
        auto after = SleepLedger(file, SleepLedger::Access::ReadOnly, nullptr).records();
        ASSERT_EQ(after.size(), 4u);
        EXPECT_EQ(after.back().failedStep, "suspend");
        EXPECT_EQ(after.back().wokenBy, std::nullopt);
        EXPECT_EQ(after.back().heldBy, "blocked by Firefox: Playing video");
        EXPECT_EQ(after.front().heldBy, std::nullopt);
        after.pop_back();
        EXPECT_EQ(after, before);
        EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM samples"), std::to_string(samples + 1));
        // The same tables and indexes as a file made new.
        const auto fresh = folder.path() / "fresh.sqlite";
        {
            HistoryDatabase made(fresh, HistoryDatabase::Access::ReadWrite, nullptr);
        }
        const char* schema = "SELECT group_concat(name || ':' || sql, ';') FROM "
                             "(SELECT name, sql FROM sqlite_master ORDER BY name)";
        EXPECT_EQ(sqlValue(file, schema), sqlValue(fresh, schema));
    }
}

TEST(HistoryDatabase, AMigrationThatCannotBeWrittenLeavesVersion1)
{
    test::TemporaryFolder folder;
    const auto file = copyOfVersion1(folder);
    // Another program holds the write lock past the busy timeout.
    sqlite3* other = nullptr;
    sqlite3_open(file.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Said said;
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
        EXPECT_FALSE(database.isOpen());
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_EQ(said.messages.size(), 1u);
    EXPECT_NE(said.messages[0].find("locked"), std::string::npos) << said.messages[0];
    EXPECT_EQ(sqlValue(file, "PRAGMA user_version"), "1");
    EXPECT_EQ(SleepLedger(file, SleepLedger::Access::ReadOnly, nullptr).records().size(), 3u);
}

TEST(HistoryDatabase, ADamagedFileIsSetAsideOnceForLedgerAndStore)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    std::ofstream(file) << "not SQLite at all\n";
    Said said;
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
    SleepLedger ledger(database);
    HistoryStore store(database);
    ASSERT_EQ(said.messages.size(), 1u);
    EXPECT_NE(said.messages[0].find("history.sqlite.corrupt"), std::string::npos) << said.messages[0];
    EXPECT_EQ(test::readFile(file.string() + ".corrupt"), "not SQLite at all\n");
    store.addSample(historySample(1800000000));
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(sqlValue(file, "SELECT count(*) FROM samples"), "1");
}

// Flushes a day of samples at a time until the disk is full, as a file-size
// limit makes it; 0 when that was said once, whatever the ledger and the
// discharges then wrote, the samples stayed waiting, and went out once there was room.
int fillTheDisk(const std::filesystem::path& file)
{
    std::signal(SIGXFSZ, SIG_IGN);
    Said said;
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
    SleepLedger ledger(database);
    HistoryStore store(database);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit full{rlim_t{256} * 1024, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &full);
    double time = 1800000000;
    int flushed = 0;
    for (bool written = true; written && flushed < 1000; ++flushed) {
        for (std::size_t i = 0; i < HistoryStore::kMostWaiting; ++i, time += 60)
            store.addSample(historySample(time));
        written = store.flush();
    }
    const std::size_t waiting = store.waiting();
    store.addDischarge({1, 2, 1, 1, 1, 0.5, 0, 1, 1, 1});
    ledger.add(SleepRecord{});
    const bool saidOnce = said.messages.size() == 1;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool flushedLater = store.flush() && store.waiting() == 0;
    const std::size_t kept = store.samples(0, 1e12).size();
    const bool allThere = kept == static_cast<std::size_t>(flushed) * HistoryStore::kMostWaiting;
    return flushed > 1 && waiting == HistoryStore::kMostWaiting && saidOnce && flushedLater && allThere ? 0 : 1;
}

TEST(HistoryStore, AFullDiskIsSaidOnceAndTheSamplesWait)
{
    test::TemporaryFolder folder;
    EXPECT_EXIT(std::_Exit(fillTheDisk(folder.path() / "history.sqlite")), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace drainwatch
