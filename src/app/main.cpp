// SPDX-License-Identifier: MIT
#include "app/Launcher.h"

int main(int argc, char** argv) { return drainwatch::runDrainwatch(argc, argv); }
