// SPDX-License-Identifier: MIT
#include "desktop/DesktopMain.h"

int main(int argc, char** argv) { return drainwatch::runDesktop(argc, argv); }
