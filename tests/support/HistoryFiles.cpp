// SPDX-License-Identifier: MIT
#include "support/HistoryFiles.h"

#include <sqlite3.h>

namespace drainwatch::test {

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

void sqlExec(const std::filesystem::path& file, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace drainwatch::test
