// SPDX-License-Identifier: MIT
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <sqlite3.h>
#include <string>

namespace drainwatch::sql {

// A prepared statement, finalized at the end of its scope.
struct Statement {
    Statement(sqlite3* db, const char* text)
    {
        if (db)
            sqlite3_prepare_v2(db, text, -1, &handle, nullptr);
    }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* handle = nullptr;
};

// An empty value is NULL, both ways.
inline void bindValue(sqlite3_stmt* s, int i, const std::optional<double>& v)
{
    v ? sqlite3_bind_double(s, i, *v) : sqlite3_bind_null(s, i);
}
inline void bindValue(sqlite3_stmt* s, int i, const std::optional<std::int64_t>& v)
{
    v ? sqlite3_bind_int64(s, i, *v) : sqlite3_bind_null(s, i);
}
inline void bindValue(sqlite3_stmt* s, int i, const std::optional<std::string>& v)
{
    v ? sqlite3_bind_text(s, i, v->c_str(), static_cast<int>(v->size()), SQLITE_TRANSIENT) : sqlite3_bind_null(s, i);
}

inline bool isNull(sqlite3_stmt* s, int i) { return sqlite3_column_type(s, i) == SQLITE_NULL; }
// A damaged file may hold an infinity where a figure was: unknown, then;
// a row without a figure it cannot do without is left out.
inline std::optional<double> realAt(sqlite3_stmt* s, int i)
{
    if (isNull(s, i))
        return std::nullopt;
    const double value = sqlite3_column_double(s, i);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}
inline std::optional<std::int64_t> integerAt(sqlite3_stmt* s, int i)
{
    return isNull(s, i) ? std::nullopt : std::optional<std::int64_t>(sqlite3_column_int64(s, i));
}
inline std::optional<std::string> textAt(sqlite3_stmt* s, int i)
{
    if (isNull(s, i))
        return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return std::string(text ? text : "");
}

} // namespace drainwatch::sql
