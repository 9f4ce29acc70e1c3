// SPDX-License-Identifier: MIT
#include "app/DesktopMain.h"

int main(int argc, char** argv) { return drainwatch::runDesktop(argc, argv); }
