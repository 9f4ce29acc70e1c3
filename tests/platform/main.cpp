#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstring>

int runSingleInstanceChild(const QString& name);

// Timers, sockets and D-Bus need an application object for the whole run.
// The binary doubles as the competing process of the single-instance tests.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--single-instance-child") == 0)
        return runSingleInstanceChild(QString::fromLocal8Bit(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
