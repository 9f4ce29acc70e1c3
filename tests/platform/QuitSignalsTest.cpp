#include "platform/QuitSignals.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace drainwatch {
namespace {

TEST(QuitSignalsTest, TermIntAndHupArriveLaterThroughTheEventLoop)
{
    QObject owner;
    QuitSignals* quit = QuitSignals::install(&owner);
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(QuitSignals::install(&owner), quit);
    QSignalSpy spy(quit, &QuitSignals::quitRequested);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        std::raise(signalNumber);
        EXPECT_EQ(spy.count(), 0) << "nothing but a write in the handler";
        ASSERT_TRUE(spy.wait(2000)) << signalNumber;
        EXPECT_EQ(spy.takeFirst().value(0).toInt(), signalNumber);
    }
}

TEST(QuitSignalsTest, TheEarlierHandlersComeBackWhenItIsDestroyed)
{
    struct sigaction ignore {}, found {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, nullptr);
    delete QuitSignals::install(nullptr);
    sigaction(SIGHUP, nullptr, &found);
    EXPECT_EQ(found.sa_handler, SIG_IGN);

    // And a new one can be installed after it.
    QObject owner;
    QSignalSpy spy(QuitSignals::install(&owner), &QuitSignals::quitRequested);
    std::raise(SIGHUP);
    EXPECT_TRUE(spy.wait(2000));
    signal(SIGHUP, SIG_DFL);
}

} // namespace
} // namespace drainwatch
