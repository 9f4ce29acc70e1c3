#include "sleep/SleepLedger.h"

#include "log/Logger.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sqlite3.h>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// "DrnW": tells a sleep history from any other SQLite file.
constexpr int kApplicationId = 0x44726e57;
constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema = R"(
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

constexpr const char* kColumns =
    "how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after, used_percentage, used_mah, "
    "used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed, failed_device, woken_by, flags";

// Names and flags are single printable words or fixed phrases: a line each.
std::string joinLines(const std::vector<std::string>& values)
{
    std::string text;
    for (const auto& value : values)
        text += (text.empty() ? "" : "\n") + value;
    return text;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> values;
    std::size_t from = 0;
    while (from < text.size()) {
        const auto end = std::min(text.find('\n', from), text.size());
        values.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return values;
}

// A prepared statement, finalized at the end of its scope.
struct Statement {
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* handle = nullptr;
};

void bindValue(sqlite3_stmt* s, int i, const std::optional<double>& v)
{
    v ? sqlite3_bind_double(s, i, *v) : sqlite3_bind_null(s, i);
}
void bindValue(sqlite3_stmt* s, int i, const std::optional<std::int64_t>& v)
{
    v ? sqlite3_bind_int64(s, i, *v) : sqlite3_bind_null(s, i);
}
void bindValue(sqlite3_stmt* s, int i, const std::optional<std::string>& v)
{
    v ? sqlite3_bind_text(s, i, v->c_str(), static_cast<int>(v->size()), SQLITE_TRANSIENT) : sqlite3_bind_null(s, i);
}

bool isNull(sqlite3_stmt* s, int i) { return sqlite3_column_type(s, i) == SQLITE_NULL; }
// A damaged file may hold an infinity where a figure was: unknown, then.
std::optional<double> realAt(sqlite3_stmt* s, int i)
{
    if (isNull(s, i))
        return std::nullopt;
    const double value = sqlite3_column_double(s, i);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}
std::optional<std::int64_t> integerAt(sqlite3_stmt* s, int i)
{
    return isNull(s, i) ? std::nullopt : std::optional<std::int64_t>(sqlite3_column_int64(s, i));
}
std::optional<std::string> textAt(sqlite3_stmt* s, int i)
{
    if (isNull(s, i))
        return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return std::string(text ? text : "");
}

// Empty for a row whose times or charges are not finite: there is nothing
// true to show of it.
std::optional<SleepRecord> recordAt(sqlite3_stmt* s)
{
    SleepRecord r;
    r.how = textAt(s, 0).value_or("");
    r.start = sqlite3_column_double(s, 1);
    r.end = sqlite3_column_double(s, 2);
    r.asleepSeconds = realAt(s, 3);
    r.mode = textAt(s, 4);
    r.onBattery = sqlite3_column_int(s, 5) != 0;
    r.chargeBefore = sqlite3_column_double(s, 6);
    r.chargeAfter = sqlite3_column_double(s, 7);
    r.usedPercentage = sqlite3_column_double(s, 8);
    r.usedMAh = realAt(s, 9);
    r.usedMWh = realAt(s, 10);
    r.ratePerHour = realAt(s, 11);
    r.milliwatts = realAt(s, 12);
    r.hardwareSleep = realAt(s, 13);
    r.cycles = integerAt(s, 14);
    r.failed = integerAt(s, 15);
    r.failedDevice = textAt(s, 16);
    r.wokenBy = splitLines(textAt(s, 17).value_or(""));
    r.flags = splitLines(textAt(s, 18).value_or(""));
    for (double figure : {r.start, r.end, r.chargeBefore, r.chargeAfter, r.usedPercentage})
        if (!std::isfinite(figure))
            return std::nullopt;
    return r;
}

std::optional<std::int64_t> pragmaValue(sqlite3* db, const char* sql, int& result)
{
    Statement statement(db, sql);
    result = statement.handle ? sqlite3_step(statement.handle) : sqlite3_errcode(db);
    if (result != SQLITE_ROW)
        return std::nullopt;
    result = SQLITE_OK;
    return sqlite3_column_int64(statement.handle, 0);
}

} // namespace

SleepLedger::SleepLedger(std::filesystem::path file, Access access, Report report)
    : file_(std::move(file)), report_(std::move(report))
{
    if (access == Access::ReadOnly) {
        std::error_code missing;
        if (!std::filesystem::exists(file_, missing))
            return;
        if (!openFile(SQLITE_OPEN_READONLY))
            return;
        const Check state = check(access);
        // Unusable was said already; an empty file is no history yet, as a
        // missing one.
        if (state == Check::SetAside)
            say(fmt::format("{} is not a readable sleep history", file_.string()));
        if (state != Check::Good)
            close();
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) {
        say(fmt::format("cannot make the folder {} ({}); sleeps are not kept", file_.parent_path().string(),
                            error.message()));
        return;
    }
    if (!openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
        return;
    Check state = check(access);
    if (state == Check::SetAside) {
        if (!setAside() || !openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
            return;
        state = check(access);
    }
    if (state != Check::Good) {
        close();
        return;
    }
    // WAL lets `drainwatch --sleeps` read while the monitor writes; a
    // record is rare, so every commit may go to the disk at once.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    // The check read every page; the tick has no use for them.
    sqlite3_db_release_memory(db_);
}

SleepLedger::SleepLedger(Report report) : report_(std::move(report))
{
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
        !createSchema()) {
        say("cannot make a sleep history in memory");
        close();
    }
}

SleepLedger::~SleepLedger() { close(); }

void SleepLedger::close()
{
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SleepLedger::openFile(int flags)
{
    const int opened = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr);
    if (opened != SQLITE_OK) {
        say(fmt::format("cannot open the sleep history {} ({}); sleeps are not kept", file_.string(),
                            db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened)));
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // "end" names a column or nothing: with SQLite's old leniency a table
    // without it would read the word itself, and the check below pass.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    // A record a sleep: a small page cache does, and keeps the monitor small.
    sqlite3_exec(db_, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
    return true;
}

// The first reads find a file that is not a database, or a damaged one.
SleepLedger::Check SleepLedger::check(Access access)
{
    int result = SQLITE_OK;
    const auto tables = pragmaValue(db_, "SELECT count(*) FROM sqlite_master", result);
    const auto application = pragmaValue(db_, "PRAGMA application_id", result);
    const auto version = pragmaValue(db_, "PRAGMA user_version", result);
    if (result == SQLITE_NOTADB || result == SQLITE_CORRUPT)
        return Check::SetAside;
    if (!tables || !application || !version) {
        say(fmt::format("cannot read the sleep history {} ({}); sleeps are not kept", file_.string(),
                            sqlite3_errstr(result)));
        return Check::Unusable;
    }
    if (*tables == 0 && *application == 0) {
        if (access == Access::ReadOnly)
            return Check::Empty;
        return createSchema() ? Check::Good : Check::Unusable;
    }
    if (*application != kApplicationId)
        return Check::SetAside;
    if (*version != kSchemaVersion) {
        say(fmt::format("the sleep history {} has schema version {}, this Drainwatch knows {}; sleeps are not kept",
                            file_.string(), *version, kSchemaVersion));
        return Check::Unusable;
    }
    Statement quick(db_, "PRAGMA quick_check");
    const int stepped = quick.handle ? sqlite3_step(quick.handle) : SQLITE_CORRUPT;
    const auto* answer = stepped == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(quick.handle, 0))
                                               : nullptr;
    if (!answer || std::string(answer) != "ok")
        return Check::SetAside;
    // Our mark and version over tables that are not ours: damage too, or
    // every record would be lost without a word.
    const std::string columns = fmt::format("SELECT {}, comparable FROM sleeps LIMIT 0", kColumns);
    const Statement select(db_, columns.c_str());
    if (!select.handle)
        return Check::SetAside;
    return Check::Good;
}

bool SleepLedger::setAside()
{
    close();
    const std::filesystem::path aside = file_.string() + ".corrupt";
    std::error_code error;
    std::filesystem::rename(file_, aside, error);
    if (error) {
        say(fmt::format("the sleep history {} is damaged and cannot be set aside ({}); sleeps are not kept",
                            file_.string(), error.message()));
        return false;
    }
    // The journal files belong to the damaged database, not to the new one.
    for (const char* suffix : {"-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(file_.string() + suffix, ignored);
    }
    say(fmt::format("the sleep history {} was damaged or not Drainwatch's; it is kept as {} and a new one begins",
                        file_.string(), aside.string()));
    writeFailureSaid_ = false;
    return true;
}

bool SleepLedger::createSchema()
{
    const std::string sql = fmt::format("BEGIN; {} PRAGMA application_id={}; PRAGMA user_version={}; COMMIT;", kSchema,
                                        kApplicationId, kSchemaVersion);
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    say(fmt::format("cannot write the sleep history {} ({}); sleeps are not kept",
                        file_.empty() ? std::string("in memory") : file_.string(), message ? message : "?"));
    sqlite3_free(message);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SleepLedger::add(const SleepRecord& r)
{
    if (!db_)
        return false;
    if (!insert_) {
        const std::string sql =
            fmt::format("INSERT INTO sleeps({}, comparable) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", kColumns);
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr);
    }
    int result = SQLITE_ERROR;
    if (insert_) {
        sqlite3_stmt* s = insert_;
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        bindValue(s, 1, std::optional<std::string>(r.how));
        sqlite3_bind_double(s, 2, r.start);
        sqlite3_bind_double(s, 3, r.end);
        bindValue(s, 4, r.asleepSeconds);
        bindValue(s, 5, r.mode);
        sqlite3_bind_int(s, 6, r.onBattery ? 1 : 0);
        sqlite3_bind_double(s, 7, r.chargeBefore);
        sqlite3_bind_double(s, 8, r.chargeAfter);
        sqlite3_bind_double(s, 9, r.usedPercentage);
        bindValue(s, 10, r.usedMAh);
        bindValue(s, 11, r.usedMWh);
        bindValue(s, 12, r.ratePerHour);
        bindValue(s, 13, r.milliwatts);
        bindValue(s, 14, r.hardwareSleep);
        bindValue(s, 15, r.cycles);
        bindValue(s, 16, r.failed);
        bindValue(s, 17, r.failedDevice);
        bindValue(s, 18, std::optional<std::string>(joinLines(r.wokenBy)));
        bindValue(s, 19, std::optional<std::string>(joinLines(r.flags)));
        sqlite3_bind_int(s, 20, r.comparable() ? 1 : 0);
        // One statement, one transaction: committed when it is done.
        result = sqlite3_step(s);
        sqlite3_reset(s);
    }
    if (result == SQLITE_DONE)
        return true;
    if (!writeFailureSaid_) {
        writeFailureSaid_ = true;
        report_(fmt::format("cannot write the sleep history {} ({}); sleeps are not kept until it can be",
                            file_.empty() ? std::string("in memory") : file_.string(), sqlite3_errmsg(db_)));
    }
    return false;
}

std::vector<SleepRecord> SleepLedger::select(const std::string& order, std::size_t limit) const
{
    std::vector<SleepRecord> records;
    if (!db_)
        return records;
    const std::string sql = fmt::format("SELECT {} FROM sleeps {}", kColumns, order);
    Statement statement(db_, sql.c_str());
    // The limit counts the rows that can be shown, not the damaged ones.
    while (records.size() < limit && statement.handle && sqlite3_step(statement.handle) == SQLITE_ROW)
        if (auto record = recordAt(statement.handle))
            records.push_back(std::move(*record));
    return records;
}

std::vector<SleepRecord> SleepLedger::records() const
{
    return select("ORDER BY id", std::numeric_limits<std::size_t>::max());
}

std::optional<SleepRecord> SleepLedger::latest() const
{
    auto records = newest(1);
    if (records.empty())
        return std::nullopt;
    return records.front();
}

std::vector<SleepRecord> SleepLedger::newest(std::size_t limit) const
{
    return select("ORDER BY id DESC", limit);
}

std::vector<double> SleepLedger::comparableRates(const std::optional<std::string>& mode, std::size_t limit) const
{
    std::vector<double> rates;
    if (!db_)
        return rates;
    // A comparable record has a rate; one without, or an infinite one, is
    // damage and counts for nothing.
    Statement statement(db_, "SELECT rate_per_hour FROM sleeps WHERE comparable = 1 AND mode IS ? "
                             "AND rate_per_hour IS NOT NULL ORDER BY id DESC");
    if (!statement.handle)
        return rates;
    bindValue(statement.handle, 1, mode);
    while (rates.size() < limit && sqlite3_step(statement.handle) == SQLITE_ROW) {
        const double rate = sqlite3_column_double(statement.handle, 0);
        if (std::isfinite(rate))
            rates.push_back(rate);
    }
    return rates;
}

void SleepLedger::say(const std::string& message)
{
    if (report_)
        report_(message);
}

std::filesystem::path SleepLedger::defaultPath(const std::string& fileName)
{
    // The log's folder is $XDG_STATE_HOME/Logs/Drainwatch: the same rules
    // for the state folder, one level up.
    return Logger::defaultPath("x").parent_path().parent_path().parent_path() / "Drainwatch" / fileName;
}

void SleepLedger::printReport(const std::string& message) { std::fprintf(stderr, "Drainwatch: %s\n", message.c_str()); }

} // namespace drainwatch
