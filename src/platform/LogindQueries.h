// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/LidState.h"

#include <optional>
#include <string>
#include <vector>

struct sd_bus;

namespace drainwatch {

// Questions to logind's Manager on an open bus; empty where the call fails.
std::optional<bool> logindFlag(sd_bus* bus, const char* property);
std::optional<std::string> logindText(sd_bus* bus, const char* property);
std::optional<std::vector<Inhibitor>> logindInhibitors(sd_bus* bus);
LidHolders logindHolders(sd_bus* bus);

// What `drainwatch --inhibitors` shows, asked on a connection of its own.
struct LogindAnswers {
    LidHolders holders;
    LidState lid;
    // Empty when logind answered; else why it could not be asked.
    std::string failure;
};
LogindAnswers askLogind(const std::filesystem::path& procDir);

} // namespace drainwatch
