// SPDX-License-Identifier: MIT
#include "sleep/SleepLedger.h"

#include "history/SqlStatement.h"
#include "log/Logger.h"

#include <cstdio>
#include <limits>
#include <sqlite3.h>

#include <fmt/format.h>

namespace drainwatch {

namespace {

using namespace sql;

constexpr const char* kColumns =
    "how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after, used_percentage, used_mah, "
    "used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed, failed_device, woken_by, flags, failed_step, "
    "woken_by_known, held_by";
// Files before version 3 and 4, read as they are.
constexpr const char* kVersion2Columns =
    "how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after, used_percentage, used_mah, "
    "used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed, failed_device, woken_by, flags, NULL, 1, "
    "NULL";
constexpr const char* kVersion3Columns =
    "how, start, \"end\", asleep_seconds, mode, on_battery, charge_before, charge_after, used_percentage, used_mah, "
    "used_mwh, rate_per_hour, milliwatts, hardware_sleep, cycles, failed, failed_device, woken_by, flags, failed_step, "
    "woken_by_known, NULL";

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

// Empty for a row whose times or charges are not finite, as a damaged file
// may hold: there is nothing true to show of it.
std::optional<SleepRecord> recordAt(sqlite3_stmt* s)
{
    const auto start = realAt(s, 1);
    const auto end = realAt(s, 2);
    const auto chargeBefore = realAt(s, 6);
    const auto chargeAfter = realAt(s, 7);
    const auto usedPercentage = realAt(s, 8);
    if (!start || !end || !chargeBefore || !chargeAfter || !usedPercentage)
        return std::nullopt;
    SleepRecord r;
    r.how = textAt(s, 0).value_or("");
    r.start = *start;
    r.end = *end;
    r.asleepSeconds = realAt(s, 3);
    r.mode = textAt(s, 4);
    r.onBattery = sqlite3_column_int(s, 5) != 0;
    r.chargeBefore = *chargeBefore;
    r.chargeAfter = *chargeAfter;
    r.usedPercentage = *usedPercentage;
    r.usedMAh = realAt(s, 9);
    r.usedMWh = realAt(s, 10);
    r.ratePerHour = realAt(s, 11);
    r.milliwatts = realAt(s, 12);
    r.hardwareSleep = realAt(s, 13);
    r.cycles = integerAt(s, 14);
    r.failed = integerAt(s, 15);
    r.failedDevice = textAt(s, 16);
    if (sqlite3_column_int(s, 20) != 0)
        r.wokenBy = splitLines(textAt(s, 17).value_or(""));
    r.flags = splitLines(textAt(s, 18).value_or(""));
    r.failedStep = textAt(s, 19);
    r.heldBy = textAt(s, 21);
    return r;
}

} // namespace

SleepLedger::SleepLedger(std::filesystem::path file, Access access, Report report)
    : own_(std::make_unique<HistoryDatabase>(std::move(file), access, std::move(report))), database_(*own_)
{
}

SleepLedger::SleepLedger(Report report) : own_(std::make_unique<HistoryDatabase>(std::move(report))), database_(*own_)
{
}

SleepLedger::SleepLedger(HistoryDatabase& database) : database_(database) {}

// Finalized before the database is closed.
SleepLedger::~SleepLedger() { sqlite3_finalize(insert_); }

bool SleepLedger::add(const SleepRecord& r)
{
    sqlite3* db = database_.handle();
    if (!db)
        return false;
    if (!insert_) {
        const std::string text = fmt::format(
            "INSERT INTO sleeps({}, comparable) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", kColumns);
        sqlite3_prepare_v2(db, text.c_str(), -1, &insert_, nullptr);
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
        bindValue(s, 18, std::optional<std::string>(joinLines(r.wokenBy.value_or(std::vector<std::string>{}))));
        bindValue(s, 19, std::optional<std::string>(joinLines(r.flags)));
        bindValue(s, 20, r.failedStep);
        sqlite3_bind_int(s, 21, r.wokenBy ? 1 : 0);
        bindValue(s, 22, r.heldBy);
        sqlite3_bind_int(s, 23, r.comparable() ? 1 : 0);
        // One statement, one transaction: committed when it is done.
        result = sqlite3_step(s);
        sqlite3_reset(s);
    }
    if (result == SQLITE_DONE)
        return true;
    database_.writeFailed();
    return false;
}

std::vector<SleepRecord> SleepLedger::select(const std::string& order, std::size_t limit) const
{
    std::vector<SleepRecord> records;
    sqlite3* db = database_.handle();
    if (!db)
        return records;
    const std::string text = fmt::format("SELECT {} FROM sleeps {}",
                                         database_.schemaVersion() < 3   ? kVersion2Columns
                                         : database_.schemaVersion() < 4 ? kVersion3Columns
                                                                         : kColumns,
                                         order);
    Statement statement(db, text.c_str());
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

std::optional<SleepRecord> SleepLedger::latestWatched() const
{
    auto records = select("WHERE how NOT IN ('not running', 'lid closed') ORDER BY id DESC", 1);
    if (records.empty())
        return std::nullopt;
    return records.front();
}

std::vector<SleepRecord> SleepLedger::newest(std::size_t limit) const { return select("ORDER BY id DESC", limit); }

std::vector<double> SleepLedger::comparableRates(const std::optional<std::string>& mode, std::size_t limit) const
{
    std::vector<double> rates;
    sqlite3* db = database_.handle();
    if (!db)
        return rates;
    // A comparable record has a rate; one without, or an infinite one, is
    // damage and counts for nothing.
    Statement statement(db, "SELECT rate_per_hour FROM sleeps WHERE comparable = 1 AND mode IS ? "
                            "AND rate_per_hour IS NOT NULL ORDER BY id DESC");
    if (!statement.handle)
        return rates;
    bindValue(statement.handle, 1, mode);
    while (rates.size() < limit && sqlite3_step(statement.handle) == SQLITE_ROW)
        if (const auto rate = realAt(statement.handle, 0))
            rates.push_back(*rate);
    return rates;
}

std::filesystem::path SleepLedger::defaultPath(const std::string& fileName)
{
    // The log's folder is $XDG_STATE_HOME/Logs/Drainwatch: the same rules
    // for the state folder, one level up.
    return Logger::defaultPath("x").parent_path().parent_path().parent_path() / "Drainwatch" / fileName;
}

void SleepLedger::printReport(const std::string& message) { HistoryDatabase::printReport(message); }

} // namespace drainwatch
