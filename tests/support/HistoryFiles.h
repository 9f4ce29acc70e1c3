// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryDatabase.h"

#include <filesystem>
#include <string>
#include <vector>

namespace drainwatch::test {

// What a history database or ledger says, kept for the test to read.
struct Said {
    std::vector<std::string> messages;
    HistoryDatabase::Report report()
    {
        return [this](const std::string& m) { messages.push_back(m); };
    }
};

// The history file as another program sees it, through a connection of its
// own: the first column of the first row `sql` gives ("" for none), and
// `sql` run on it.
std::string sqlValue(const std::filesystem::path& file, const char* sql);
void sqlExec(const std::filesystem::path& file, const char* sql);

} // namespace drainwatch::test
