// SPDX-License-Identifier: MIT
#include "platform/LogindLidSource.h"

namespace drainwatch {

LogindLidSource::LogindLidSource(std::filesystem::path procDir, LogindSleepNotifications& logind)
    : proc_(std::move(procDir)), logind_(logind)
{
}

LidState LogindLidSource::read()
{
    LidState state;
    state.closed = proc_.closed();
    if (!state.closed)
        state.closed = logind_.managerFlag("LidClosed");
    if (state.closed == true)
        state.docked = logind_.managerFlag("Docked").value_or(false);
    return state;
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
