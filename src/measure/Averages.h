// SPDX-License-Identifier: MIT
#pragma once

#include "measure/PreferenceStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace drainwatch {

// Mean of every sample since the last reset; persists under a save prefix.
class Average {
public:
    Average(PreferenceStore& store, std::string savePrefix);

    double average() const { return current; }
    void loadData();
    void recordSample(double sample);
    void reset();
    void saveData();

    std::string savePrefix;
    std::int64_t samples = 0;
    double current = 0.0;

private:
    PreferenceStore& store_;
};

// Exact mean of the last N samples, in a ring allocated once.
class PerfectRollingAverage {
public:
    // N below 1 has no window to average over.
    explicit PerfectRollingAverage(std::int64_t samples);

    double average() const;
    void recordSample(double sample);
    void reset();

    double total = 0.0;
    std::int64_t N;
    std::int64_t count = 0;
    bool overflowed = false;
    std::vector<double> sampleData;
};

// Exponentially weighted mean, each new sample weighing 1/N.
class RollingAverage {
public:
    RollingAverage(PreferenceStore& store, std::string savePrefix, std::int64_t samples);

    // Prints "Not enough samples!" on standard output while fewer than N went in.
    double average() const;
    bool isAvailable() const { return samples >= N; }
    void loadData();
    void reset();
    void recordSample(double sample);
    void saveData();

    std::string savePrefix;
    double avg = 0.0;
    std::int64_t N;
    std::int64_t samples = 0;

private:
    PreferenceStore& store_;
};

} // namespace drainwatch
