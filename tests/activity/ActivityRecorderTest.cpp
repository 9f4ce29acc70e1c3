// SPDX-License-Identifier: MIT
#include "activity/ActivityRecorder.h"
#include "activity/AppsText.h"
#include "support/Fakes.h"
#include "support/HistoryFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace drainwatch {
namespace {

// One application at a fixed rate on the test's clock; counts its reads.
class SteadyActivity final : public ActivitySource {
public:
    explicit SteadyActivity(const Clock& clock) : clock_(clock) {}
    ActivitySnapshot read() override
    {
        ++reads;
        cpuSeconds_ += coresBusy * (clock_.now() - lastRead_);
        lastRead_ = clock_.now();
        ActivitySnapshot snapshot;
        snapshot.time = clock_.now();
        snapshot.counters["app:firefox"] = {"Firefox", "firefox", ActivityKind::App, cpuSeconds_, {}};
        snapshot.busySeconds = cpuSeconds_;
        snapshot.brightness = 1.0;
        return snapshot;
    }
    double coresBusy = 0.5;
    int reads = 0;

private:
    const Clock& clock_;
    double cpuSeconds_ = 0;
    double lastRead_ = clock_.now();
};

struct Recorded : ::testing::Test {
    test::FakeClock clock;
    SteadyActivity activity{clock};
    HistoryDatabase database{nullptr};
    ActivityStore store{database};
    ActivityRecorder recorder{clock, activity, store};

    void ticks(int count, bool onBattery = true, std::optional<double> watts = 10.0)
    {
        for (int i = 0; i < count; ++i) {
            clock.advance(5);
            recorder.readableTick(onBattery, watts, false);
        }
    }
    SpanActivity all() const { return store.span(0, 1e12); }
};

TEST_F(Recorded, EachMinuteOnBatteryIsASpanWithTheTicksEnergy)
{
    recorder.readableTick(true, 10.0, false);
    ticks(12 * 10);
    const SpanActivity span = all();
    EXPECT_DOUBLE_EQ(span.seconds, 600);
    // 10 W for 600 s.
    EXPECT_NEAR(span.measuredWh, 10.0 * 600 / 3600, 1e-9);
    ASSERT_EQ(span.uses.size(), 1u);
    EXPECT_NEAR(span.uses[0].cpuSeconds, 300, 1e-6);
    EXPECT_NEAR(*span.screenSeconds, 600, 1e-6);
    // A read to begin and one a minute, none in the ticks between.
    EXPECT_EQ(activity.reads, 11);
    // Ten spans are written, as the samples are, about every ten minutes.
    EXPECT_EQ(store.waiting(), 0u);
    EXPECT_EQ(store.minutes(0, 1e12).size(), 10u);
    // While the model learns, the most CPU time of the last ten minutes.
    EXPECT_EQ(recorder.topApplication(), "Firefox");
}

TEST_F(Recorded, NoSpanHoldsTimeOnTheChargerAsleepOrInAGap)
{
    recorder.readableTick(true, 10.0, false);
    ticks(6);
    // The charger ends the span at its tick, the last power held to it;
    // nothing is read on AC.
    ticks(12, false);
    const int readsOnAC = activity.reads;
    ticks(12, false);
    EXPECT_EQ(activity.reads, readsOnAC);
    EXPECT_NEAR(all().seconds, 35, 1e-9);

    // A sleep closes the span; the gap after it is not counted.
    ticks(6);
    recorder.willSleep();
    clock.suspend(3600);
    recorder.readableTick(true, 10.0, true);
    ticks(2);
    // A tick that came late (the process stopped) is a gap too.
    clock.advance(40);
    recorder.readableTick(true, 10.0, false);
    ticks(1);
    recorder.processEnding();
    // 35 s, then 25 s to the sleep, then 5 s after the late tick; the 10 s
    // before it cannot be told from the stop.
    EXPECT_NEAR(all().seconds, 35 + 25 + 5, 1e-9);
    EXPECT_NEAR(all().measuredWh, 10.0 * 65 / 3600, 1e-9);
    EXPECT_EQ(store.waiting(), 0u);
}

TEST_F(Recorded, AnUnknownOrImpossiblePowerIsNotLearned)
{
    recorder.readableTick(true, 10.0, false);
    ticks(3);
    for (const double bad : {std::nan(""), -3.0, std::numeric_limits<double>::infinity()})
        ticks(3, true, bad);
    ticks(3, true, std::nullopt);
    const SpanActivity span = all();
    // Up to the first bad tick, the last good power held over it; then nothing.
    EXPECT_NEAR(span.seconds, 20, 1e-9);
    EXPECT_NEAR(span.measuredWh, 10.0 * 20 / 3600, 1e-12);
}

TEST_F(Recorded, TheModelIsLearnedFromVariedMinutesThenKeptADay)
{
    EXPECT_EQ(modelQualityText(recorder.model()), "learning this laptop: 0 of 120 minutes");
    recorder.readableTick(true, 10.0, false);
    // The power follows 2 W + 8 W a core, the load changing every 10 minutes.
    for (int block = 0; block < 13; ++block) {
        activity.coresBusy = block % 2 ? 1.0 : 0.25;
        ticks(120, true, 2 + 8 * activity.coresBusy);
    }
    ASSERT_TRUE(recorder.model().determined()) << modelQualityText(recorder.model());
    EXPECT_NEAR(*recorder.model().cpuW, 8, 0.8);
    const double fittedAt = recorder.model().fittedAt;
    ticks(12 * 60);
    EXPECT_EQ(recorder.model().fittedAt, fittedAt);
    // The next process finds it.
    ActivityRecorder next(clock, activity, store);
    EXPECT_EQ(next.model().fittedAt, fittedAt);
    clock.advance(86400);
    next.readableTick(true, 10.0, false);
    for (int i = 0; i < 13; ++i) {
        clock.advance(5);
        next.readableTick(true, 10.0, false);
    }
    EXPECT_GT(next.model().fittedAt, fittedAt);
}

} // namespace
} // namespace drainwatch
