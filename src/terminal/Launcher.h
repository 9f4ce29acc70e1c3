// SPDX-License-Identifier: MIT
#pragma once

namespace drainwatch {

// The `drainwatch` command: reads the command line, answers the one-off
// options, runs the terminal front end, or hands the process over to the
// window program. Links no GUI library, so that the terminal front end stays
// small. Returns the exit code.
int runDrainwatch(int argc, char** argv);

} // namespace drainwatch
