// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <functional>
#include <string>

struct sqlite3;

namespace drainwatch {

// The one SQLite connection to the history file, shared by the sleep ledger
// and the history store: opened, checked, migrated to the current schema, or
// set aside when damaged. A file in WAL mode (readers while the monitor
// writes), or one in memory for the simulator. Nothing here stops the
// monitor: what cannot be opened or written is said once, through report.
class HistoryDatabase {
public:
    using Report = std::function<void(const std::string&)>;
    enum class Access { ReadWrite, ReadOnly };

    // A file, made with its folder where missing (ReadWrite); a damaged file,
    // or one that is not a Drainwatch history, is set aside as NAME.corrupt
    // and a new one begins; an older schema is migrated. ReadOnly opens
    // nothing where the file is missing, and reads an older schema as it is.
    HistoryDatabase(std::filesystem::path file, Access access, Report report = printReport);
    // In memory, for as long as the object lives.
    explicit HistoryDatabase(Report report = printReport);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Null where there is no database to read or write.
    sqlite3* handle() const { return db_; }
    bool isOpen() const { return db_ != nullptr; }
    // "in memory" or the file's path, for messages.
    std::string name() const;
    // The first failed write is said, later ones not: a read-only file or a
    // full disk is one message, not one a sleep or a flush.
    void writeFailed();
    // Runs work in one write transaction: committed when work gives true,
    // else rolled back and the failure said. False, unsaid, with no database.
    bool writeTransaction(const std::function<bool(sqlite3*)>& work);
    void say(const std::string& message);

    // "Drainwatch: ..." on standard error.
    static void printReport(const std::string& message);

    // The schema the open file has: older than kSchemaVersion only for a
    // reader, which takes a file as it is.
    int schemaVersion() const { return schemaVersion_; }

    static constexpr int kSchemaVersion = 5;

private:
    enum class Check { Good, SetAside, Unusable };

    bool openFile(int flags);
    Check check(bool readOnly);
    void setAside();
    bool createSchema();
    bool migrate(long long fromVersion);
    bool execute(const std::string& text);
    void close();

    std::filesystem::path file_;
    Report report_;
    sqlite3* db_ = nullptr;
    bool writeFailureSaid_ = false;
    int schemaVersion_ = kSchemaVersion;
};

} // namespace drainwatch
