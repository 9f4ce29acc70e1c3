// SPDX-License-Identifier: MIT
// Saves the real settings store in a tight loop until it is killed (or N
// times, given N): all nine of the monitor's keys hold the generation number,
// told on standard output after each save.
#include "platform/QSettingsPreferenceStore.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    drainwatch::QSettingsPreferenceStore store;
    std::int64_t generation = store.integerForKey("amperageAverage.samples");
    std::printf("loaded %lld\n", static_cast<long long>(generation));
    std::fflush(stdout);
    for (long long saves = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : -1; saves != 0; --saves) {
        ++generation;
        // Not a whole number, so a value cut short reads differently.
        for (const char* key :
             {"lastPercentage", "startedCountingAtPercentage", "usedDuringSleepPercentage", "batteryUsage.startedAt",
              "batteryUsage.lastHeartBeat", "acUsage.startedAt", "acUsage.lastHeartBeat", "amperageAverage.current"})
            store.setDouble(static_cast<double>(generation) + 0.25, key);
        store.setInteger(generation, "amperageAverage.samples");
        store.synchronize();
        std::printf("saved %lld\n", static_cast<long long>(generation));
        std::fflush(stdout);
    }
    return 0;
}
