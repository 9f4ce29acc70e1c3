// SPDX-License-Identifier: MIT
#pragma once

#include "sleep/LidState.h"

#include <string>

namespace drainwatch {

// Why a closed laptop on battery is still awake, in the user's words:
// "the lid switch is set to ignore", "suspend failed (see Sleeps)",
// "blocked by Firefox: Playing video", ...
std::string lidAwakeReason(const LidHolders& holders, bool suspendFailed);

struct LidNotice {
    std::string summary;
    std::string body;
};
// The desktop notification of a spell awake with the lid closed. used is in
// percent of the full charge, lost over seconds since the lid closed.
LidNotice lidNotice(const std::string& reason, double usedPercentage, double seconds);

// What `drainwatch --inhibitors` prints: every lock, then the lid and what
// closing it does.
std::string inhibitorsText(const LidHolders& holders, const LidState& lid);

} // namespace drainwatch
