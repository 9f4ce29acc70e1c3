// SPDX-License-Identifier: MIT
#pragma once

#include "battery/MemoryRegistry.h"
#include "log/Logger.h"
#include "monitor/ViewController.h"
#include "platform/QSettingsPreferenceStore.h"
#include "sleep/SleepTracker.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace drainwatch::test {

// Private XDG folders under `home`, by variable.
inline std::map<std::string, std::string> xdgFolders(const std::filesystem::path& home)
{
    std::map<std::string, std::string> folders;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        folders[variable] = home / variable;
        std::filesystem::create_directories(folders[variable]);
        std::filesystem::permissions(folders[variable], std::filesystem::perms::owner_all);
    }
    return folders;
}

inline int quitsIn(const std::string& log)
{
    return static_cast<int>(QString::fromStdString(log).count(QStringLiteral("Quitting app")));
}

// A monitor on a battery in memory, with the real settings file and the real
// log in private XDG folders, and a clock and a timer the test moves.
class AppFixture : public ::testing::Test {
protected:
    AppFixture()
    {
        for (const auto& [variable, folder] : xdgFolders(home.path()))
            setenv(variable.c_str(), folder.c_str(), 1);
        Logger::installMain(std::make_unique<Logger>(Logger::defaultPath("Drainwatch.log"), clock, false));
        // 90 % of 5000 mAh, 1250 mA at 12 V: 25 %/h, 15 W.
        for (const auto& [key, value] : std::map<std::string, RegistryProperty>{{"ExternalConnected", false},
                                                                                {"IsCharging", false},
                                                                                {"Amperage", std::int64_t{-1250}},
                                                                                {"CurrentCapacity", std::int64_t{4500}},
                                                                                {"MaxCapacity", std::int64_t{5000}},
                                                                                {"DesignCapacity", std::int64_t{5200}},
                                                                                {"Voltage", std::int64_t{12000}}})
            battery.set(key, value);
        store = std::make_unique<QSettingsPreferenceStore>();
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
    // The monitor tracks its sleeps, into a ledger in memory.
    void trackSleeps() { controller->sleepTracker = &tracker; }
    // A suspend of `hours` after which the battery holds `capacity` mAh.
    void suspend(double hours, std::int64_t capacity)
    {
        sleep.sleep();
        clock.suspend(hours * 3600);
        battery.set("CurrentCapacity", capacity);
        sleep.wake();
    }
    std::string log() const { return readFile(Logger::main().filePath()); }
    int quits() const { return quitsIn(log()); }
    std::string storeFile() const { return readFile(store->path().toStdString()); }

    TemporaryFolder home;
    FakeClock clock;
    MemoryRegistry battery;
    FakeTimer timer;
    FakeSleepNotifications sleep;
    FakeFileOpener opener;
    std::unique_ptr<QSettingsPreferenceStore> store;
    std::unique_ptr<ViewController> controller;
    FakeSystem system;
    SleepLedger ledger{nullptr};
    SleepTracker tracker{clock, system, ledger};
};

} // namespace drainwatch::test
