#pragma once

#include "battery/MemoryRegistry.h"
#include "log/Logger.h"
#include "monitor/ViewController.h"
#include "platform/QSettingsPreferenceStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace drainwatch::test {

// A monitor on a battery in memory, with the real settings file and the real
// log in temporary XDG folders, and a clock and a timer the test moves.
class AppFixture : public ::testing::Test {
protected:
    AppFixture()
    {
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            const auto folder = home.path() / variable;
            std::filesystem::create_directories(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
            setenv(variable, folder.c_str(), 1);
        }
        Logger::installMain(std::make_unique<Logger>(Logger::defaultPath("Drainwatch.log"), clock, false));
        store = std::make_unique<QSettingsPreferenceStore>();
        // 90 % of 5000 mAh, 1250 mA at 12 V: 25 %/h, 15 W.
        battery.set("ExternalConnected", false);
        battery.set("IsCharging", false);
        battery.set("Amperage", std::int64_t{-1250});
        battery.set("CurrentCapacity", std::int64_t{4500});
        battery.set("MaxCapacity", std::int64_t{5000});
        battery.set("DesignCapacity", std::int64_t{5200});
        battery.set("Voltage", std::int64_t{12000});
        controller = std::make_unique<ViewController>(MonitorServices{clock, battery, *store, timer, sleep, opener});
    }

    // What the 5-second timer does, `seconds` after the last tick.
    void tick(double seconds = 5)
    {
        clock.advance(seconds);
        timer.tick();
    }
    void runFor(double seconds)
    {
        for (double done = 0; done < seconds; done += 5)
            tick();
    }

    std::string log() const { return readFile(Logger::main().filePath()); }
    std::string storeFile() const { return readFile(store->path().toStdString()); }

    TemporaryFolder home;
    FakeClock clock;
    MemoryRegistry battery;
    FakeTimer timer;
    FakeSleepNotifications sleep;
    FakeFileOpener opener;
    std::unique_ptr<QSettingsPreferenceStore> store;
    std::unique_ptr<ViewController> controller;
};

inline int occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace drainwatch::test
