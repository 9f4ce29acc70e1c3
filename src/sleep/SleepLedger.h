#pragma once

#include "sleep/SleepRecord.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace drainwatch {

// Every sleep record, in an SQLite database: a file in WAL mode (readers
// while the monitor writes), or one in memory for the simulator. One
// transaction per record. Nothing here stops the monitor: a database that
// cannot be opened or written is said once, through report, and the records
// are then not kept.
class SleepLedger {
public:
    using Report = std::function<void(const std::string&)>;
    enum class Access { ReadWrite, ReadOnly };

    // A file, made with its folder where missing (ReadWrite); a damaged file,
    // or one that is not a sleep history, is set aside as NAME.corrupt and a
    // new one begins. ReadOnly opens nothing where the file is missing
    // or empty, and says once why a file it found cannot be read.
    SleepLedger(std::filesystem::path file, Access access, Report report = printReport);
    // In memory, for as long as the object lives.
    explicit SleepLedger(Report report = printReport);
    ~SleepLedger();
    SleepLedger(const SleepLedger&) = delete;
    SleepLedger& operator=(const SleepLedger&) = delete;

    // False where there is no database to read or write.
    bool isOpen() const { return db_ != nullptr; }
    // Keeps the record; false (said once) when it could not be written.
    bool add(const SleepRecord& record);
    // Oldest first.
    std::vector<SleepRecord> records() const;
    std::optional<SleepRecord> latest() const;
    // Newest first, at most limit.
    std::vector<SleepRecord> newest(std::size_t limit) const;
    // The %/h of the comparable records with this mode (empty matches
    // empty), newest first, at most limit.
    std::vector<double> comparableRates(const std::optional<std::string>& mode, std::size_t limit) const;

    // $XDG_STATE_HOME/Drainwatch/NAME (default ~/.local/state).
    static std::filesystem::path defaultPath(const std::string& fileName);
    // "Drainwatch: ..." on standard error.
    static void printReport(const std::string& message);

    static constexpr int kSchemaVersion = 1;

private:
    // Empty: a reader found a database with nothing in it yet.
    enum class Check { Good, SetAside, Unusable, Empty };

    bool openFile(int flags);
    Check check(Access access);
    bool setAside();
    bool createSchema();
    void close();
    void say(const std::string& message);
    std::vector<SleepRecord> select(const std::string& order, std::size_t limit) const;

    std::filesystem::path file_;
    Report report_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool writeFailureSaid_ = false;
};

} // namespace drainwatch
