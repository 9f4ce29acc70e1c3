// SPDX-License-Identifier: MIT
#include "history/HistoryRecorder.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

struct Recorder {
    test::FakeClock clock;
    HistoryDatabase database{nullptr};
    HistoryStore store{database};
    HistoryRecorder recorder{clock, store};
    // What another process would read: the flushed samples.
    std::size_t onDisk() { return HistoryStore(database).samples(0, 1e12).size(); }
    // Ticks every 5 s for seconds, a sample where one is due.
    void run(double seconds)
    {
        for (double t = 0; t < seconds; t += 5) {
            clock.advance(5);
            recorder.tick();
            if (recorder.sampleDue())
                recorder.record({});
        }
    }
};

TEST(HistoryRecorder, OneSampleAMinuteAndEventsBetween)
{
    Recorder r;
    HistorySample start;
    start.event = "start";
    r.recorder.record(start);
    r.run(175);
    HistorySample charger;
    charger.event = "charger connected";
    r.recorder.record(charger);
    r.run(60);
    const auto samples = r.store.samples(0, 1e12);
    std::vector<double> offsets;
    offsets.reserve(samples.size());
    for (const auto& s : samples)
        offsets.push_back(s.time - 1800000000);
    // The event resets the minute: the next one is a minute after it.
    EXPECT_EQ(offsets, (std::vector<double>{0, 60, 120, 175, 235}));
}

TEST(HistoryRecorder, FlushesEveryTenMinutesNotBefore)
{
    Recorder r;
    r.run(595);
    EXPECT_EQ(r.onDisk(), 0u);
    r.run(5);
    // At 5, 65, ... 545 s, all in one transaction.
    EXPECT_EQ(r.onDisk(), 10u);
    EXPECT_EQ(r.store.waiting(), 0u);
    r.run(595);
    EXPECT_EQ(r.onDisk(), 10u);
    r.run(5);
    EXPECT_EQ(r.onDisk(), 20u);
}

TEST(HistoryRecorder, AClockSetBackNeitherStopsSamplesNorFlushes)
{
    Recorder r;
    r.run(300);
    r.clock.advance(-3600);
    // The first tick an hour back takes a sample, the minute runs from it.
    r.run(60);
    EXPECT_EQ(r.store.samples(0, 1e12).size(), 6u);
    r.run(600);
    EXPECT_EQ(r.store.samples(0, 1e12).size(), 16u);
    EXPECT_GE(r.onDisk(), 15u) << "flushed within ten minutes of the set-back clock";
}

TEST(HistoryRecorder, DeletesPastFourHundredDaysAtTheFirstTickAndOnceADay)
{
    Recorder r;
    HistorySample old;
    old.time = r.clock.time - HistoryRecorder::kKeptSeconds - 10;
    r.store.addSample(old);
    old.time = r.clock.time - HistoryRecorder::kKeptSeconds + 3600;
    r.store.addSample(old);
    r.store.flush();
    r.recorder.tick();
    EXPECT_EQ(r.onDisk(), 1u);
    r.clock.advance(7200);
    r.recorder.tick();
    EXPECT_EQ(r.onDisk(), 1u) << "not before a day has passed";
    r.clock.advance(86400 - 7200);
    r.recorder.tick();
    EXPECT_EQ(r.onDisk(), 0u);
}

} // namespace
} // namespace drainwatch
