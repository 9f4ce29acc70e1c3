// Saves the real settings store in a tight loop until it is killed (or N
// times, given N): every one of the monitor's nine keys holds the generation
// number, and after each save the generation now on disk goes to standard
// output.
#include "platform/QSettingsPreferenceStore.h"

#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    drainwatch::QSettingsPreferenceStore store;
    static const std::array<const char*, 8> doubles = {
        "lastPercentage",     "startedCountingAtPercentage", "usedDuringSleepPercentage", "batteryUsage.startedAt",
        "batteryUsage.lastHeartBeat", "acUsage.startedAt",   "acUsage.lastHeartBeat",     "amperageAverage.current"};
    std::int64_t generation = store.integerForKey("amperageAverage.samples");
    std::printf("loaded %lld\n", static_cast<long long>(generation));
    std::fflush(stdout);
    for (long long saves = argc > 1 ? std::atoll(argv[1]) : -1; saves != 0; --saves) {
        ++generation;
        // Not a whole number, so a value cut short reads differently.
        for (const char* key : doubles)
            store.setDouble(static_cast<double>(generation) + 0.25, key);
        store.setInteger(generation, "amperageAverage.samples");
        store.synchronize();
        std::printf("saved %lld\n", static_cast<long long>(generation));
        std::fflush(stdout);
    }
    return 0;
}
