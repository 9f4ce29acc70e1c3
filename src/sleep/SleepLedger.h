// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryDatabase.h"
#include "sleep/SleepRecord.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace drainwatch {

// Every sleep record, in the history database (see HistoryDatabase). One
// transaction per record. Nothing here stops the monitor: a database that
// cannot be opened or written is said once, through report, and the records
// are then not kept.
class SleepLedger {
public:
    using Report = HistoryDatabase::Report;
    using Access = HistoryDatabase::Access;

    // A database of its own: a file (as HistoryDatabase opens it) ...
    SleepLedger(std::filesystem::path file, Access access, Report report = printReport);
    // ... or one in memory, for as long as the object lives.
    explicit SleepLedger(Report report = printReport);
    // The connection the history store shares.
    explicit SleepLedger(HistoryDatabase& database);
    ~SleepLedger();
    SleepLedger(const SleepLedger&) = delete;
    SleepLedger& operator=(const SleepLedger&) = delete;

    // False where there is no database to read or write.
    bool isOpen() const { return database_.isOpen(); }
    // Keeps the record; false (said once) when it could not be written.
    bool add(const SleepRecord& record);
    // Oldest first.
    std::vector<SleepRecord> records() const;
    std::optional<SleepRecord> latest() const;
    // The newest sleep Drainwatch watched begin: not a "not running" gap,
    // which is mostly its own quits and restarts, nor a spell awake with the
    // lid closed.
    std::optional<SleepRecord> latestWatched() const;
    // Newest first, at most limit.
    std::vector<SleepRecord> newest(std::size_t limit) const;
    // The %/h of the comparable records with this mode (empty matches
    // empty), newest first, at most limit.
    std::vector<double> comparableRates(const std::optional<std::string>& mode, std::size_t limit) const;

    // $XDG_STATE_HOME/Drainwatch/NAME (default ~/.local/state).
    static std::filesystem::path defaultPath(const std::string& fileName);
    // "Drainwatch: ..." on standard error.
    static void printReport(const std::string& message);

    static constexpr int kSchemaVersion = HistoryDatabase::kSchemaVersion;

private:
    std::vector<SleepRecord> select(const std::string& order, std::size_t limit) const;

    std::unique_ptr<HistoryDatabase> own_;
    HistoryDatabase& database_;
    sqlite3_stmt* insert_ = nullptr;
};

} // namespace drainwatch
