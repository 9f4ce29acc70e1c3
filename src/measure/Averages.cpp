// SPDX-License-Identifier: MIT
#include "measure/Averages.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace drainwatch {

Average::Average(PreferenceStore& store, std::string prefix) : savePrefix(std::move(prefix)), store_(store)
{
    loadData();
}

void Average::loadData()
{
    samples = store_.integerForKey(savePrefix + ".samples");
    current = store_.doubleForKey(savePrefix + ".current");
}

void Average::recordSample(double sample)
{
    // A stored count below 1 (never saved, or a damaged file) starts afresh.
    if (samples <= 0) {
        current = sample;
        samples = 1;
        return;
    }
    if (samples < INT64_MAX)
        ++samples;
    current = ((sample - current) / static_cast<double>(samples)) + current;
}

void Average::reset()
{
    current = 0.0;
    samples = 0;
}

void Average::saveData()
{
    store_.setInteger(samples, savePrefix + ".samples");
    store_.setDouble(current, savePrefix + ".current");
}

PerfectRollingAverage::PerfectRollingAverage(std::int64_t samples) : N(samples)
{
    if (samples < 1)
        throw std::invalid_argument("PerfectRollingAverage needs a window of at least 1 sample");
    sampleData.assign(static_cast<std::size_t>(samples), 0.0);
}

double PerfectRollingAverage::average() const
{
    const std::int64_t n = overflowed ? N : count;
    return n <= 0 ? 0.0 : total / static_cast<double>(n);
}

void PerfectRollingAverage::recordSample(double sample)
{
    const auto i = static_cast<std::size_t>(count);
    total = (total - sampleData[i]) + sample;
    sampleData[i] = sample;
    if (++count >= N) {
        count -= N;
        overflowed = true;
    }
}

void PerfectRollingAverage::reset()
{
    const std::int64_t n = overflowed ? N : count;
    std::fill_n(sampleData.begin(), n, 0.0);
    total = 0.0;
    count = 0;
    overflowed = false;
}

RollingAverage::RollingAverage(PreferenceStore& store, std::string prefix, std::int64_t samples)
    : savePrefix(std::move(prefix)), N(samples), store_(store)
{
    loadData();
}

double RollingAverage::average() const
{
    if (samples < N) {
        std::puts("Not enough samples!");
        std::fflush(stdout);
    }
    return avg;
}

void RollingAverage::loadData()
{
    avg = store_.doubleForKey(savePrefix + ".avg");
    samples = store_.integerForKey(savePrefix + ".samples");
}

void RollingAverage::reset()
{
    samples = 0;
    avg = 0.0;
}

void RollingAverage::recordSample(double sample)
{
    const auto n = static_cast<double>(N);
    avg = (avg - avg / n) + sample / n;
    if (samples < INT64_MAX)
        ++samples;
}

// The counterpart of loadData, so that a saved average reads back whole.
void RollingAverage::saveData()
{
    store_.setDouble(avg, savePrefix + ".avg");
    store_.setInteger(samples, savePrefix + ".samples");
}

} // namespace drainwatch
