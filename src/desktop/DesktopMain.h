// SPDX-License-Identifier: MIT
#pragma once

namespace drainwatch {

// The window program that `drainwatch` hands over to when there is a
// display: the window, the tray icon, one instance per user. Takes the same
// command line. Returns the exit code.
int runDesktop(int argc, char** argv);

} // namespace drainwatch
