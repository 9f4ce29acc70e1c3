// SPDX-License-Identifier: MIT
#include "platform/LogindLidSource.h"

namespace drainwatch {

LogindLidSource::LogindLidSource(std::filesystem::path procDir, LogindSleepNotifications& logind, const Clock& clock)
    : proc_(std::move(procDir)), logind_(logind), clock_(clock)
{
}

LidState LogindLidSource::read()
{
    LidState state;
    state.closed = proc_.closed();
    if (!state.closed)
        state.closed = logind_.lidClosed();
    if (state.closed == true)
        state.docked = docked();
    else
        dockedAskedAt_.reset();
    return state;
}

bool LogindLidSource::docked()
{
    const double now = clock_.now();
    // A wall clock set back counts as time passed.
    if (!dockedAskedAt_ || now - *dockedAskedAt_ >= kDockedAskedEverySeconds || now < *dockedAskedAt_) {
        docked_ = logind_.managerFlag("Docked").value_or(false);
        dockedAskedAt_ = now;
    }
    return docked_;
}

LidHolders LogindLidSource::holders()
{
    LidHolders holders;
    holders.inhibitors = logind_.inhibitors();
    holders.handleLidSwitch = logind_.managerText("HandleLidSwitch");
    holders.handleLidSwitchDocked = logind_.managerText("HandleLidSwitchDocked");
    holders.ignoreInhibited = logind_.managerFlag("LidSwitchIgnoreInhibited");
    return holders;
}

} // namespace drainwatch
