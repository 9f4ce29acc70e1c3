// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"
#include "platform/LogindSleepNotifications.h"
#include "sleep/LidState.h"

#include <optional>

namespace drainwatch {

// The lid from /proc where the ACPI button driver shows it, else from
// logind's LidClosed, kept from its signals; Docked and the holders from
// logind, asked only when the lid is closed.
class LogindLidSource final : public LidSource {
public:
    // logind sends no signal when Docked changes: a closed lid asks it at
    // the closing and then once in this many seconds, not at every tick.
    static constexpr double kDockedAskedEverySeconds = 30;

    LogindLidSource(std::filesystem::path procDir, LogindSleepNotifications& logind, const Clock& clock);

    LidState read() override;
    LidHolders holders() override;
    std::string suspend() override { return logind_.suspend(); }

private:
    bool docked();

    ProcLidReader proc_;
    LogindSleepNotifications& logind_;
    const Clock& clock_;
    // When Docked was last asked while the lid stayed closed; empty once it opens.
    std::optional<double> dockedAskedAt_;
    bool docked_ = false;
};

} // namespace drainwatch
