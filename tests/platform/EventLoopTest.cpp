// SPDX-License-Identifier: MIT
// The two adapters that feed the Qt event loop: the tick and the quit signals.
#include "platform/PlatformTestSupport.h"
#include "platform/QtRepeatingTimer.h"
#include "platform/QuitSignals.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace drainwatch {
namespace {

TEST(QtRepeatingTimerTest, TheIntervalIsInSecondsAndARestartReplacesTheCallback)
{
    QtRepeatingTimer timer;
    int first = 0, second = 0;
    timer.start(2.5, [&] { ++first; });
    EXPECT_EQ(timer.intervalMilliseconds(), 2500);
    timer.start(0.01, [&] { ++second; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return second >= 2; }, test::kHangMs));
    EXPECT_EQ(first, 0);
}

TEST(QuitSignalsTest, TermIntAndHupArriveThroughTheEventLoopAndTheEarlierHandlersComeBack)
{
    std::signal(SIGHUP, SIG_IGN);
    for (int round = 0; round < 2; ++round) { // installing again after the first is gone works too
        QObject owner;
        QuitSignals* quit = QuitSignals::install(&owner);
        QSignalSpy spy(quit, &QuitSignals::quitRequested);
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            std::raise(signalNumber);
            EXPECT_EQ(spy.count(), 0) << "nothing but a write in the handler";
            ASSERT_TRUE(spy.wait(test::kHangMs)) << signalNumber;
            EXPECT_EQ(spy.takeFirst().value(0).toInt(), signalNumber);
        }
    }
    EXPECT_EQ(std::signal(SIGHUP, SIG_DFL), SIG_IGN);
}

} // namespace
} // namespace drainwatch
