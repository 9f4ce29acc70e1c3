// SPDX-License-Identifier: MIT
// The settings file as a user's disk may hold it: any bytes. Loading must
// keep what it can read, set the rest aside, and a save of what was loaded
// must read back the same: nothing is lost by a round trip.
#include "FuzzSupport.h"
#include "platform/QSettingsPreferenceStore.h"

#include <QFile>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;
using namespace drainwatch;

namespace {

constexpr std::array<const char*, 9> kKeys = {
    "lastPercentage",         "startedCountingAtPercentage", "usedDuringSleepPercentage",
    "batteryUsage.startedAt", "batteryUsage.lastHeartBeat",  "acUsage.startedAt",
    "acUsage.lastHeartBeat",  "amperageAverage.current",     "amperageAverage.samples"};

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const fs::path home = drainwatch::fuzz::scratchFolder("settings");
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A name of its own for each input: QSettings caches what it parsed by
    // file name, and would hand the next input the last one's settings.
    static unsigned long run = 0;
    const QString name = QStringLiteral("fuzz-%1.conf").arg(++run);
    const fs::path path = QFile::encodeName(QSettingsPreferenceStore::defaultPath(name)).toStdString();
    fs::remove_all(path.parent_path());
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    std::array<double, kKeys.size()> doubles{};
    std::array<std::int64_t, kKeys.size()> integers{};
    {
        QSettingsPreferenceStore store(name);
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            doubles[i] = store.doubleForKey(kKeys[i]);
            integers[i] = store.integerForKey(kKeys[i]);
            if (!std::isfinite(doubles[i]))
                drainwatch::fuzz::fail("a stored value reads as inf or nan");
        }
        // Written back as the monitor does at every tick.
        store.setDouble(doubles[0], kKeys[0]);
        store.synchronize();
    }
    QSettingsPreferenceStore reloaded(name);
    // The key written back holds a double now: its integer reading may round.
    if (!same(reloaded.doubleForKey(kKeys[0]), doubles[0]))
        drainwatch::fuzz::fail(kKeys[0]);
    for (std::size_t i = 1; i < kKeys.size(); ++i)
        if (!same(reloaded.doubleForKey(kKeys[i]), doubles[i]) || reloaded.integerForKey(kKeys[i]) != integers[i])
            drainwatch::fuzz::fail(kKeys[i]);
    return 0;
}
