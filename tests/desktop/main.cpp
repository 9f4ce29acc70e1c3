// SPDX-License-Identifier: MIT
// One QApplication for the whole run, on the offscreen platform.
#include "support/Fakes.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    drainwatch::test::TemporaryFolder runtime; // until a test points the XDG folders elsewhere
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
