// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace drainwatch {

// One desktop notification through org.freedesktop.Notifications on the
// session bus (sd-bus, as the logind code). Sent without waiting for an
// answer: a missing or hung notification service never holds up the tick,
// and without one nothing happens and nothing is said.
class DesktopNotifier {
public:
    // False when the message could not be sent (no session bus).
    bool notify(const std::string& summary, const std::string& body);
};

} // namespace drainwatch
