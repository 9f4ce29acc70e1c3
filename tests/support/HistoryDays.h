// SPDX-License-Identifier: MIT
#pragma once

#include "history/GraphColumns.h"
#include "history/HistoryRows.h"

#include <vector>

namespace drainwatch::test {

// Histories as the monitor records them: one sample a minute while it runs,
// one at each event; 5000 mAh full of 5500 design, at 11.8 V.
struct HistoryDay {
    std::vector<HistorySample> samples;
    std::vector<TimeSpan> sleeps; // as the sleep records give them

    // The samples of since <= time < until, as a history file gives them.
    void eachSample(double since, double until, const SampleVisitor& visit) const
    {
        for (const HistorySample& sample : samples)
            if (sample.time >= since && sample.time < until)
                visit(sample);
    }
};

// Starting at midnight (start): asleep until 07:00, on battery at 8 %/h,
// on the charger 12:00 to 13:30, not running 15:00 to 17:00, asleep again
// 20:00 to 22:00, awake until midnight.
HistoryDay dayWithTwoSleepsAndACharge(double start);

// days of a machine that is seldom off: an hour's sleep a night, a charge
// each morning, awake the rest; 41,520 samples for 30 days.
HistoryDay routineDays(double start, int days);

} // namespace drainwatch::test
