// SPDX-License-Identifier: MIT
#include <QCoreApplication>

#include <gtest/gtest.h>

int runSingleInstanceChild(const QString& name);

// An application object for the whole run; the binary doubles as the
// competing process of the single-instance test.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--single-instance-child")
        return runSingleInstanceChild(QString::fromLocal8Bit(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
