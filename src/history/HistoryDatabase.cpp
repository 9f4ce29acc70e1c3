// SPDX-License-Identifier: MIT
#include "history/HistoryDatabase.h"

#include "history/SqlStatement.h"

#include <cstdio>
#include <optional>
#include <sqlite3.h>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// "DrnW": tells a Drainwatch history from any other SQLite file.
constexpr int kApplicationId = 0x44726e57;
constexpr int kBusyTimeoutMs = 2000;

// Version 1: the sleep records. Its text stays as it was, so that a new file
// and a migrated one are alike.
constexpr const char* kSleepsSchema = R"(
CREATE TABLE sleeps(
  id INTEGER PRIMARY KEY,
  how TEXT NOT NULL,
  start REAL NOT NULL,
  "end" REAL NOT NULL,
  asleep_seconds REAL,
  mode TEXT,
  on_battery INTEGER NOT NULL,
  charge_before REAL NOT NULL,
  charge_after REAL NOT NULL,
  used_percentage REAL NOT NULL,
  used_mah REAL,
  used_mwh REAL,
  rate_per_hour REAL,
  milliwatts REAL,
  hardware_sleep REAL,
  cycles INTEGER,
  failed INTEGER,
  failed_device TEXT,
  woken_by TEXT NOT NULL,
  flags TEXT NOT NULL,
  comparable INTEGER NOT NULL);
CREATE INDEX sleeps_by_mode ON sleeps(comparable, mode, id);
)";

// Version 2 adds the battery's samples and the discharges.
constexpr const char* kVersion2 = R"(
CREATE TABLE samples(
  id INTEGER PRIMARY KEY,
  time REAL NOT NULL,
  charge REAL NOT NULL,
  current_ma REAL,
  on_external_power INTEGER NOT NULL,
  volts REAL,
  full_mah REAL,
  design_mah REAL,
  cycles INTEGER,
  event TEXT NOT NULL);
CREATE INDEX samples_by_time ON samples(time);
CREATE TABLE discharges(
  id INTEGER PRIMARY KEY,
  start REAL NOT NULL,
  "end" REAL NOT NULL,
  awake_seconds REAL NOT NULL,
  total_seconds REAL NOT NULL,
  charge_at_start REAL NOT NULL,
  charge_at_end REAL NOT NULL,
  used_in_sleep REAL NOT NULL,
  extrapolated_seconds REAL NOT NULL,
  extrapolated_without_sleep_seconds REAL NOT NULL,
  average_ma REAL NOT NULL);
CREATE INDEX discharges_by_end ON discharges("end");
)";

// Version 3: the step a failed suspend failed in, and whether the sources
// that woke a sleep could be told (the records before could not say).
constexpr const char* kVersion3 = R"(
ALTER TABLE sleeps ADD COLUMN failed_step TEXT;
ALTER TABLE sleeps ADD COLUMN woken_by_known INTEGER NOT NULL DEFAULT 1;
)";

// Version 4: what held a laptop awake with the lid closed, in words.
constexpr const char* kVersion4 = R"(
ALTER TABLE sleeps ADD COLUMN held_by TEXT;
)";

// Version 5: what the machine did while awake on battery. Each measured
// span (about a minute) with the battery's energy, for the power model; the
// CPU time of each application per ten minutes; the models fitted.
constexpr const char* kVersion5 = R"(
CREATE TABLE activity_spans(
  id INTEGER PRIMARY KEY,
  start REAL NOT NULL,
  seconds REAL NOT NULL,
  energy_wh REAL NOT NULL,
  cpu_seconds REAL NOT NULL,
  screen_seconds REAL,
  gpu_seconds REAL,
  network_bytes REAL);
CREATE INDEX activity_spans_by_start ON activity_spans(start);
CREATE TABLE app_activity(
  bucket REAL NOT NULL,
  key TEXT NOT NULL,
  name TEXT NOT NULL,
  icon TEXT NOT NULL,
  is_group INTEGER NOT NULL,
  cpu_seconds REAL NOT NULL,
  gpu_seconds REAL,
  PRIMARY KEY(bucket, key));
CREATE TABLE power_models(
  id INTEGER PRIMARY KEY,
  fitted_at REAL NOT NULL,
  base_w REAL,
  cpu_w REAL,
  screen_w REAL,
  gpu_w REAL,
  net_w REAL,
  r2 REAL,
  held_out_error_w REAL,
  minutes INTEGER NOT NULL);
)";

// The statements that take a file from a version to the next, from 1 on.
constexpr const char* kMigrations[] = {kVersion2, kVersion3, kVersion4, kVersion5};

std::optional<std::int64_t> pragmaValue(sqlite3* db, const char* text, int& result)
{
    sql::Statement statement(db, text);
    result = statement.handle ? sqlite3_step(statement.handle) : sqlite3_errcode(db);
    if (result != SQLITE_ROW)
        return std::nullopt;
    result = SQLITE_OK;
    return sqlite3_column_int64(statement.handle, 0);
}

// Every table and index as SQLite keeps its text.
std::string schemaText(sqlite3* db)
{
    std::string text;
    sql::Statement statement(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
    while (statement.handle && sqlite3_step(statement.handle) == SQLITE_ROW)
        for (int i = 0; i < 4; ++i)
            text += sql::textAt(statement.handle, i).value_or("NULL") + '\n';
    return text;
}

// What a file of this version, made by Drainwatch or migrated, holds.
std::string expectedSchemaText(std::int64_t version)
{
    sqlite3* db = nullptr;
    std::string text;
    bool made = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                sqlite3_exec(db, kSleepsSchema, nullptr, nullptr, nullptr) == SQLITE_OK;
    for (std::int64_t next = 2; made && next <= version; ++next)
        made = sqlite3_exec(db, kMigrations[next - 2], nullptr, nullptr, nullptr) == SQLITE_OK;
    if (made)
        text = schemaText(db);
    sqlite3_close(db);
    return text;
}

} // namespace

HistoryDatabase::HistoryDatabase(std::filesystem::path file, Access access, Report report)
    : file_(std::move(file)), report_(std::move(report))
{
    if (access == Access::ReadOnly) {
        std::error_code missing;
        if (!std::filesystem::exists(file_, missing))
            return;
        if (!openFile(SQLITE_OPEN_READONLY))
            return;
        const Check state = check(true);
        // Unusable was said already.
        if (state == Check::SetAside)
            say(fmt::format("{} is not a readable Drainwatch history", file_.string()));
        if (state != Check::Good)
            close();
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) {
        say(fmt::format("cannot make the folder {} ({}); the history is not kept", file_.parent_path().string(),
                        error.message()));
        return;
    }
    if (!openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
        return;
    Check state = check(false);
    if (state == Check::SetAside) {
        setAside();
        if (!openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
            return;
        state = check(false);
    }
    if (state != Check::Good) {
        close();
        return;
    }
    // WAL lets `drainwatch --sleeps` and `--history` read while the monitor
    // writes; writes are few (a sleep, a discharge, a batch of samples every
    // ten minutes), so every commit may go to the disk at once.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    // The check read every page; the tick has no use for them.
    sqlite3_db_release_memory(db_);
}

HistoryDatabase::HistoryDatabase(Report report) : report_(std::move(report))
{
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
        !createSchema()) {
        say("cannot make a history in memory");
        close();
    }
}

HistoryDatabase::~HistoryDatabase() { close(); }

void HistoryDatabase::close()
{
    // Statements prepared by the ledger or the store are theirs to finalize;
    // close_v2 waits for them.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::string HistoryDatabase::name() const { return file_.empty() ? std::string("in memory") : file_.string(); }

bool HistoryDatabase::openFile(int flags)
{
    const int opened = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr);
    if (opened != SQLITE_OK) {
        say(fmt::format("cannot open the history {} ({}); the history is not kept", file_.string(),
                        db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened)));
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // "end" names a column or nothing: with SQLite's old leniency a table
    // without it would read the word itself.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    // A few writes an hour: a small page cache does, and keeps the monitor small.
    sqlite3_exec(db_, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
    return true;
}

// The first reads find a file that is not a database, or a damaged one.
HistoryDatabase::Check HistoryDatabase::check(bool readOnly)
{
    int result = SQLITE_OK;
    const auto tables = pragmaValue(db_, "SELECT count(*) FROM sqlite_master", result);
    const auto application = pragmaValue(db_, "PRAGMA application_id", result);
    const auto version = pragmaValue(db_, "PRAGMA user_version", result);
    if (result == SQLITE_NOTADB || result == SQLITE_CORRUPT)
        return Check::SetAside;
    if (!tables || !application || !version) {
        say(fmt::format("cannot read the history {} ({}); the history is not kept", file_.string(),
                        sqlite3_errstr(result)));
        return Check::Unusable;
    }
    if (*tables == 0 && *application == 0)
        return readOnly || createSchema() ? Check::Good : Check::Unusable;
    if (*application != kApplicationId)
        return Check::SetAside;
    if (*version < 1 || *version > kSchemaVersion) {
        say(fmt::format("the history {} has schema version {}, this Drainwatch knows {}; the history is not kept",
                        file_.string(), *version, kSchemaVersion));
        return Check::Unusable;
    }
    // integrity_check, not quick_check: an index that disagrees with its
    // table passes the quick one and fails the first write. Once an open,
    // 0.3 s for 400 days of samples.
    sql::Statement integrity(db_, "PRAGMA integrity_check");
    const int stepped = integrity.handle ? sqlite3_step(integrity.handle) : SQLITE_CORRUPT;
    const auto* answer =
        stepped == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(integrity.handle, 0)) : nullptr;
    if (!answer || std::string(answer) != "ok")
        return Check::SetAside;
    // The mark and the version over tables that are not these (a column
    // renamed, an id that is not the row's): damage too, or records would be
    // lost or read out of order without a word.
    if (schemaText(db_) != expectedSchemaText(*version))
        return Check::SetAside;
    schemaVersion_ = static_cast<int>(*version);
    // A reader takes an older file as it is: its missing tables read as empty.
    if (*version < kSchemaVersion && !readOnly) {
        if (!migrate(*version))
            return Check::Unusable;
        schemaVersion_ = kSchemaVersion;
    }
    return Check::Good;
}

void HistoryDatabase::setAside()
{
    close();
    const std::filesystem::path aside = file_.string() + ".corrupt";
    std::error_code error;
    std::filesystem::rename(file_, aside, error);
    if (error) {
        say(fmt::format("the history {} is damaged and cannot be set aside ({}); the history is not kept",
                        file_.string(), error.message()));
        return;
    }
    // The journal files belong to the damaged database, not to the new one.
    for (const char* suffix : {"-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(file_.string() + suffix, ignored);
    }
    say(fmt::format("the history {} was damaged or not Drainwatch's; it is kept as {} and a new one begins",
                    file_.string(), aside.string()));
    writeFailureSaid_ = false;
}

bool HistoryDatabase::createSchema()
{
    return execute(fmt::format("BEGIN; {} {} {} {} {} PRAGMA application_id={}; PRAGMA user_version={}; COMMIT;",
                               kSleepsSchema, kVersion2, kVersion3, kVersion4, kVersion5, kApplicationId,
                               kSchemaVersion));
}

// In one transaction: a migration cut short leaves the file at its old version.
bool HistoryDatabase::migrate(long long fromVersion)
{
    if (fromVersion < 1 || fromVersion >= kSchemaVersion)
        return false;
    std::string steps;
    for (auto next = fromVersion + 1; next <= kSchemaVersion; ++next)
        steps += kMigrations[next - 2];
    return execute(fmt::format("BEGIN IMMEDIATE; {} PRAGMA user_version={}; COMMIT;", steps, kSchemaVersion));
}

bool HistoryDatabase::execute(const std::string& text)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    say(fmt::format("cannot write the history {} ({}); the history is not kept", name(), message ? message : "?"));
    sqlite3_free(message);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

void HistoryDatabase::writeFailed()
{
    if (writeFailureSaid_)
        return;
    writeFailureSaid_ = true;
    say(fmt::format("cannot write the history {} ({}); it is not kept until it can be", name(),
                    db_ ? sqlite3_errmsg(db_) : "not open"));
}

bool HistoryDatabase::writeTransaction(const std::function<bool(sqlite3*)>& work)
{
    if (!db_)
        return false;
    const bool written = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK && work(db_) &&
                         sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!written) {
        writeFailed();
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return written;
}

void HistoryDatabase::say(const std::string& message)
{
    if (report_)
        report_(message);
}

void HistoryDatabase::printReport(const std::string& message)
{
    std::fprintf(stderr, "Drainwatch: %s\n", message.c_str());
}

} // namespace drainwatch
