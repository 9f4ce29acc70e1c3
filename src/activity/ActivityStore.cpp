// SPDX-License-Identifier: MIT
#include "activity/ActivityStore.h"

#include "history/SqlStatement.h"

#include <algorithm>
#include <cmath>

namespace drainwatch {

namespace {

bool finite(double value) { return std::isfinite(value); }

bool insertSpan(sqlite3* db, double start, const ActivityInterval& interval, double energyWh)
{
    sql::Statement span(db, "INSERT INTO activity_spans(start, seconds, energy_wh, cpu_seconds, screen_seconds, "
                            "gpu_seconds, network_bytes) VALUES(?, ?, ?, ?, ?, ?, ?)");
    if (!span.handle)
        return false;
    sqlite3_bind_double(span.handle, 1, start);
    sqlite3_bind_double(span.handle, 2, interval.seconds);
    sqlite3_bind_double(span.handle, 3, energyWh);
    sqlite3_bind_double(span.handle, 4, interval.cpuSeconds);
    sql::bindValue(span.handle, 5, interval.screenSeconds);
    sql::bindValue(span.handle, 6, interval.gpuSeconds);
    sql::bindValue(span.handle, 7, interval.networkBytes);
    if (sqlite3_step(span.handle) != SQLITE_DONE)
        return false;
    sql::Statement use(db, "INSERT INTO app_activity(bucket, key, name, icon, is_group, cpu_seconds, gpu_seconds) "
                           "VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT(bucket, key) DO UPDATE SET "
                           "name = excluded.name, icon = excluded.icon, "
                           "cpu_seconds = cpu_seconds + excluded.cpu_seconds, "
                           "gpu_seconds = CASE WHEN excluded.gpu_seconds IS NULL THEN gpu_seconds "
                           "ELSE ifnull(gpu_seconds, 0) + excluded.gpu_seconds END");
    if (!use.handle)
        return false;
    const double bucket = activityBucket(start);
    for (const ActivityUse& u : interval.uses) {
        sqlite3_reset(use.handle);
        sqlite3_clear_bindings(use.handle);
        sqlite3_bind_double(use.handle, 1, bucket);
        sql::bindValue(use.handle, 2, std::optional<std::string>(u.key));
        sql::bindValue(use.handle, 3, std::optional<std::string>(u.name));
        sql::bindValue(use.handle, 4, std::optional<std::string>(u.icon));
        sqlite3_bind_int(use.handle, 5, u.kind == ActivityKind::Group ? 1 : 0);
        sqlite3_bind_double(use.handle, 6, u.cpuSeconds);
        sql::bindValue(use.handle, 7, u.gpuSeconds);
        if (sqlite3_step(use.handle) != SQLITE_DONE)
            return false;
    }
    return true;
}

} // namespace

double activityBucket(double time)
{
    return std::floor(time / ActivityStore::kBucketSeconds) * ActivityStore::kBucketSeconds;
}

ActivityStore::ActivityStore(HistoryDatabase& database) : database_(database) {}

void ActivityStore::add(double start, const ActivityInterval& interval, double energyWh)
{
    // Nothing true can be kept of a span whose figures are not numbers.
    if (!finite(start) || !finite(interval.seconds) || interval.seconds <= 0 || !finite(energyWh) ||
        !finite(interval.cpuSeconds))
        return;
    if (waiting_.size() >= kMostWaiting)
        waiting_.erase(waiting_.begin());
    waiting_.push_back({start, interval, energyWh});
}

bool ActivityStore::flush()
{
    if (waiting_.empty())
        return true;
    if (!database_.isOpen())
        return false;
    const bool written = database_.writeTransaction([this](sqlite3* db) {
        for (const Waiting& w : waiting_)
            if (!insertSpan(db, w.start, w.interval, w.energyWh))
                return false;
        return true;
    });
    if (written)
        waiting_.clear();
    return written;
}

SpanActivity ActivityStore::span(double since, double until) const
{
    const double first = activityBucket(since);
    SpanActivity span;
    // An older file read as it is has no such tables: nothing to find.
    sql::Statement totals(database_.handle(),
                          "SELECT total(seconds), total(energy_wh), total(cpu_seconds), sum(screen_seconds), "
                          "sum(gpu_seconds), sum(network_bytes) FROM activity_spans WHERE start >= ? AND start < ?");
    if (totals.handle) {
        sqlite3_bind_double(totals.handle, 1, first);
        sqlite3_bind_double(totals.handle, 2, until);
        if (sqlite3_step(totals.handle) == SQLITE_ROW) {
            span.seconds = sql::realAt(totals.handle, 0).value_or(0);
            span.measuredWh = sql::realAt(totals.handle, 1).value_or(0);
            span.cpuSeconds = sql::realAt(totals.handle, 2).value_or(0);
            span.screenSeconds = sql::realAt(totals.handle, 3);
            span.gpuSeconds = sql::realAt(totals.handle, 4);
            span.networkBytes = sql::realAt(totals.handle, 5);
        }
    }
    sql::Statement apps(database_.handle(),
                        "SELECT key, name, icon, is_group, total(cpu_seconds), sum(gpu_seconds) FROM app_activity "
                        "WHERE bucket >= ? AND bucket < ? GROUP BY key ORDER BY max(bucket)");
    if (apps.handle) {
        sqlite3_bind_double(apps.handle, 1, first);
        sqlite3_bind_double(apps.handle, 2, until);
        while (sqlite3_step(apps.handle) == SQLITE_ROW) {
            const auto cpu = sql::realAt(apps.handle, 4);
            if (!cpu || *cpu < 0)
                continue;
            ActivityUse use;
            use.key = sql::textAt(apps.handle, 0).value_or("");
            use.name = sql::textAt(apps.handle, 1).value_or("");
            use.icon = sql::textAt(apps.handle, 2).value_or("");
            use.kind = sqlite3_column_int(apps.handle, 3) != 0 ? ActivityKind::Group : ActivityKind::App;
            use.cpuSeconds = *cpu;
            use.gpuSeconds = sql::realAt(apps.handle, 5);
            span.uses.push_back(use);
        }
    }
    for (const Waiting& w : waiting_)
        if (w.start >= first && w.start < until)
            addInterval(span, w.interval, w.energyWh);
    std::stable_sort(span.uses.begin(), span.uses.end(),
                     [](const ActivityUse& a, const ActivityUse& b) { return a.cpuSeconds > b.cpuSeconds; });
    return span;
}

std::vector<ModelMinute> ActivityStore::minutes(double since, double until) const
{
    std::vector<ModelMinute> found;
    sql::Statement rows(database_.handle(),
                        "SELECT start, seconds, energy_wh, cpu_seconds, screen_seconds, gpu_seconds, network_bytes "
                        "FROM activity_spans WHERE start >= ? AND start < ? ORDER BY start, id");
    if (rows.handle) {
        sqlite3_bind_double(rows.handle, 1, since);
        sqlite3_bind_double(rows.handle, 2, until);
        while (sqlite3_step(rows.handle) == SQLITE_ROW) {
            const auto start = sql::realAt(rows.handle, 0);
            const auto seconds = sql::realAt(rows.handle, 1);
            const auto energy = sql::realAt(rows.handle, 2);
            const auto cpu = sql::realAt(rows.handle, 3);
            if (!start || !seconds || !energy || !cpu)
                continue;
            found.push_back({*start + *seconds, *seconds, *energy, *cpu, sql::realAt(rows.handle, 4),
                             sql::realAt(rows.handle, 5), sql::realAt(rows.handle, 6)});
        }
    }
    for (const Waiting& w : waiting_)
        if (w.start >= since && w.start < until)
            found.push_back({w.start + w.interval.seconds, w.interval.seconds, w.energyWh, w.interval.cpuSeconds,
                             w.interval.screenSeconds, w.interval.gpuSeconds, w.interval.networkBytes});
    return found;
}

void ActivityStore::addModel(const PowerModel& model)
{
    database_.writeTransaction([&model](sqlite3* db) {
        sql::Statement insert(db, "INSERT INTO power_models(fitted_at, base_w, cpu_w, screen_w, gpu_w, net_w, r2, "
                                  "held_out_error_w, minutes) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (!insert.handle)
            return false;
        sqlite3_bind_double(insert.handle, 1, model.fittedAt);
        sql::bindValue(insert.handle, 2, model.baseW);
        sql::bindValue(insert.handle, 3, model.cpuW);
        sql::bindValue(insert.handle, 4, model.screenW);
        sql::bindValue(insert.handle, 5, model.gpuW);
        sql::bindValue(insert.handle, 6, model.netW);
        sql::bindValue(insert.handle, 7, model.r2);
        sql::bindValue(insert.handle, 8, model.heldOutErrorW);
        sqlite3_bind_int64(insert.handle, 9, model.minutes);
        return sqlite3_step(insert.handle) == SQLITE_DONE;
    });
}

std::optional<PowerModel> ActivityStore::latestModel() const
{
    sql::Statement row(database_.handle(), "SELECT fitted_at, base_w, cpu_w, screen_w, gpu_w, net_w, r2, "
                                           "held_out_error_w, minutes FROM power_models ORDER BY id DESC LIMIT 1");
    if (!row.handle || sqlite3_step(row.handle) != SQLITE_ROW)
        return std::nullopt;
    PowerModel model;
    model.fittedAt = sql::realAt(row.handle, 0).value_or(0);
    model.baseW = sql::realAt(row.handle, 1);
    model.cpuW = sql::realAt(row.handle, 2);
    model.screenW = sql::realAt(row.handle, 3);
    model.gpuW = sql::realAt(row.handle, 4);
    model.netW = sql::realAt(row.handle, 5);
    model.r2 = sql::realAt(row.handle, 6);
    model.heldOutErrorW = sql::realAt(row.handle, 7);
    model.minutes = static_cast<int>(std::clamp<std::int64_t>(sql::integerAt(row.handle, 8).value_or(0), 0, 1 << 30));
    // A damaged row whose coefficients are not all there, or negative, teaches nothing.
    for (const auto* w : {&model.baseW, &model.cpuW, &model.screenW, &model.gpuW, &model.netW})
        if (*w && **w < 0)
            return std::nullopt;
    if (!model.baseW || !model.cpuW)
        model.baseW = model.cpuW = model.screenW = model.gpuW = model.netW = std::nullopt;
    return model;
}

void ActivityStore::deleteOlderThan(double time)
{
    database_.writeTransaction([time](sqlite3* db) {
        for (const char* text :
             {"DELETE FROM activity_spans WHERE start < ?", "DELETE FROM app_activity WHERE bucket < ?",
              "DELETE FROM power_models WHERE fitted_at < ? AND id < (SELECT max(id) FROM power_models)"}) {
            sql::Statement statement(db, text);
            if (!statement.handle)
                return false;
            sqlite3_bind_double(statement.handle, 1, time);
            if (sqlite3_step(statement.handle) != SQLITE_DONE)
                return false;
        }
        return true;
    });
}

} // namespace drainwatch
