// SPDX-License-Identifier: MIT
#include "history/HistoryStore.h"

#include "history/SqlStatement.h"

#include <algorithm>

namespace drainwatch {

namespace {

constexpr const char* kSampleColumns =
    "time, charge, current_ma, on_external_power, volts, full_mah, design_mah, cycles, event";
constexpr const char* kDischargeColumns =
    "start, \"end\", awake_seconds, total_seconds, charge_at_start, charge_at_end, used_in_sleep, "
    "extrapolated_seconds, extrapolated_without_sleep_seconds, average_ma";

// Empty for a row whose time or charge is not finite, as a damaged file may
// hold: there is nothing true to show of it.
std::optional<HistorySample> sampleAt(sqlite3_stmt* s)
{
    const auto time = sql::realAt(s, 0);
    const auto charge = sql::realAt(s, 1);
    if (!time || !charge)
        return std::nullopt;
    HistorySample r;
    r.time = *time;
    r.charge = *charge;
    r.currentMA = sql::realAt(s, 2);
    r.onExternalPower = sqlite3_column_int(s, 3) != 0;
    r.volts = sql::realAt(s, 4);
    r.fullMAh = sql::realAt(s, 5);
    r.designMAh = sql::realAt(s, 6);
    r.cycles = sql::integerAt(s, 7);
    r.event = sql::textAt(s, 8).value_or("");
    return r;
}

std::optional<DischargeRecord> dischargeAt(sqlite3_stmt* s)
{
    DischargeRecord r;
    double* fields[] = {&r.start,
                        &r.end,
                        &r.awakeSeconds,
                        &r.totalSeconds,
                        &r.chargeAtStart,
                        &r.chargeAtEnd,
                        &r.usedInSleep,
                        &r.extrapolatedSeconds,
                        &r.extrapolatedWithoutSleepSeconds,
                        &r.averageMA};
    for (int i = 0; i < 10; ++i) {
        const auto figure = sql::realAt(s, i);
        if (!figure)
            return std::nullopt;
        *fields[i] = *figure;
    }
    return r;
}

bool insertSample(sqlite3_stmt* s, const HistorySample& r)
{
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    sqlite3_bind_double(s, 1, r.time);
    sqlite3_bind_double(s, 2, r.charge);
    sql::bindValue(s, 3, r.currentMA);
    sqlite3_bind_int(s, 4, r.onExternalPower ? 1 : 0);
    sql::bindValue(s, 5, r.volts);
    sql::bindValue(s, 6, r.fullMAh);
    sql::bindValue(s, 7, r.designMAh);
    sql::bindValue(s, 8, r.cycles);
    sql::bindValue(s, 9, std::optional<std::string>(r.event));
    return sqlite3_step(s) == SQLITE_DONE;
}

} // namespace

HistoryStore::HistoryStore(HistoryDatabase& database) : database_(database) {}

void HistoryStore::forEachSample(double since, double until, const SampleVisitor& visit) const
{
    // A clock set back may put a waiting sample before a flushed one; on a
    // tie the flushed one comes first.
    std::vector<const HistorySample*> waiting;
    for (const HistorySample& sample : waiting_)
        if (sample.time >= since && sample.time < until)
            waiting.push_back(&sample);
    std::stable_sort(waiting.begin(), waiting.end(),
                     [](const HistorySample* a, const HistorySample* b) { return a->time < b->time; });
    auto next = waiting.begin();
    const std::string text =
        std::string("SELECT ") + kSampleColumns + " FROM samples WHERE time >= ? AND time < ? ORDER BY time, id";
    // An older file read as it is has no such table: nothing to find.
    sql::Statement statement(database_.handle(), text.c_str());
    if (statement.handle) {
        sqlite3_bind_double(statement.handle, 1, since);
        sqlite3_bind_double(statement.handle, 2, until);
        while (sqlite3_step(statement.handle) == SQLITE_ROW)
            if (const auto sample = sampleAt(statement.handle)) {
                for (; next != waiting.end() && (*next)->time < sample->time; ++next)
                    visit(**next);
                visit(*sample);
            }
    }
    for (; next != waiting.end(); ++next)
        visit(**next);
}

std::vector<HistorySample> HistoryStore::samples(double since, double until) const
{
    std::vector<HistorySample> found;
    forEachSample(since, until, [&found](const HistorySample& sample) { found.push_back(sample); });
    return found;
}

std::vector<DischargeRecord> HistoryStore::discharges() const
{
    std::vector<DischargeRecord> found;
    const std::string text = std::string("SELECT ") + kDischargeColumns + " FROM discharges ORDER BY \"end\", id";
    sql::Statement statement(database_.handle(), text.c_str());
    while (statement.handle && sqlite3_step(statement.handle) == SQLITE_ROW)
        if (auto record = dischargeAt(statement.handle))
            found.push_back(*record);
    return found;
}

void HistoryStore::addSample(const HistorySample& sample)
{
    if (waiting_.size() >= kMostWaiting)
        waiting_.erase(waiting_.begin());
    waiting_.push_back(sample);
}

bool HistoryStore::flush()
{
    if (waiting_.empty())
        return true;
    const std::string text = std::string("INSERT INTO samples(") + kSampleColumns + ") VALUES(?,?,?,?,?,?,?,?,?)";
    const bool written = database_.writeTransaction([&](sqlite3* db) {
        sql::Statement insert(db, text.c_str());
        bool inserted = insert.handle != nullptr;
        for (auto next = waiting_.begin(); inserted && next != waiting_.end(); ++next)
            inserted = insertSample(insert.handle, *next);
        return inserted;
    });
    if (written)
        waiting_.clear();
    return written;
}

void HistoryStore::addDischarge(const DischargeRecord& r)
{
    const std::string text =
        std::string("INSERT INTO discharges(") + kDischargeColumns + ") VALUES(?,?,?,?,?,?,?,?,?,?)";
    sql::Statement insert(database_.handle(), text.c_str());
    bool written = insert.handle != nullptr;
    if (written) {
        const double values[] = {r.start,
                                 r.end,
                                 r.awakeSeconds,
                                 r.totalSeconds,
                                 r.chargeAtStart,
                                 r.chargeAtEnd,
                                 r.usedInSleep,
                                 r.extrapolatedSeconds,
                                 r.extrapolatedWithoutSleepSeconds,
                                 r.averageMA};
        for (int i = 0; i < 10; ++i)
            sqlite3_bind_double(insert.handle, i + 1, values[i]);
        // One statement, one transaction: committed when it is done.
        written = sqlite3_step(insert.handle) == SQLITE_DONE;
    }
    if (!written && database_.isOpen())
        database_.writeFailed();
}

void HistoryStore::deleteOlderThan(double time)
{
    std::erase_if(waiting_, [time](const HistorySample& sample) { return sample.time < time; });
    // Both tables in one transaction: one write to the disk a day.
    database_.writeTransaction([time](sqlite3* db) {
        sql::Statement samples(db, "DELETE FROM samples WHERE time < ?");
        sql::Statement discharges(db, "DELETE FROM discharges WHERE \"end\" < ?");
        for (sqlite3_stmt* s : {samples.handle, discharges.handle}) {
            if (!s)
                return false;
            sqlite3_bind_double(s, 1, time);
            if (sqlite3_step(s) != SQLITE_DONE)
                return false;
        }
        return true;
    });
}

} // namespace drainwatch
