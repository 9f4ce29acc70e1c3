// SPDX-License-Identifier: MIT
#pragma once

#include "platform/LogindSleepNotifications.h"
#include "sleep/LidState.h"

namespace drainwatch {

// The lid from /proc where the ACPI button driver shows it, else from
// logind's LidClosed; Docked and the holders from logind, asked only when
// the lid is closed.
class LogindLidSource final : public LidSource {
public:
    LogindLidSource(std::filesystem::path procDir, LogindSleepNotifications& logind);

    LidState read() override;
    LidHolders holders() override;
    std::string suspend() override { return logind_.suspend(); }

private:
    ProcLidReader proc_;
    LogindSleepNotifications& logind_;
};

} // namespace drainwatch
