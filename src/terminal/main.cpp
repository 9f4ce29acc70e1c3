// SPDX-License-Identifier: MIT
#include "terminal/Launcher.h"

int main(int argc, char** argv) { return drainwatch::runDrainwatch(argc, argv); }
