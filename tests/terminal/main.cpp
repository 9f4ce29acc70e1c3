// SPDX-License-Identifier: MIT
// One QCoreApplication for the whole run: the terminal program has no GUI.
#include "support/Fakes.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    drainwatch::test::TemporaryFolder runtime; // until a test points the XDG folders elsewhere
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
