// SPDX-License-Identifier: MIT
#pragma once

#include "log/Logger.h"
#include "measure/Clock.h"
#include "monitor/MonitorServices.h"
#include "sleep/SystemSnapshot.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace drainwatch::test {

// A clock the test moves by hand; nothing ever sleeps for real.
class FakeClock final : public Clock {
public:
    explicit FakeClock(double start = 1800000000.0) : time(start) {}
    double now() const override { return time; }
    double suspendedSeconds() const override { return suspended; }
    void advance(double seconds) { time += seconds; }
    // A suspend: the wall clock and the suspended clock move together.
    void suspend(double seconds)
    {
        time += seconds;
        suspended += seconds;
    }
    double time;
    double suspended = 0;
};

class FakeTimer final : public RepeatingTimer {
public:
    void start(double intervalSeconds, std::function<void()> onTick) override
    {
        interval = intervalSeconds;
        tick = std::move(onTick);
    }
    double interval = 0;
    std::function<void()> tick;
};

using FakeSleepNotifications = StoredSleepNotifications;

// The kernel's suspend figures as the test sets them: none by default.
class FakeSystem final : public SnapshotSource {
public:
    SystemSnapshot take() override { return snapshot; }
    SleepEntries sleepEntriesSince(double) override { return {}; }
    SystemSnapshot snapshot;
};

class FakeFileOpener final : public FileOpener {
public:
    bool open(const std::string& path) override
    {
        opened.push_back(path);
        return succeeds;
    }
    bool succeeds = true;
    std::vector<std::string> opened;
};

class FakeTextField final : public TextField {
public:
    void setText(const std::string& value) override
    {
        text = value;
        ++writes;
    }
    std::string text;
    int writes = 0;
};

class FakeCheckBox final : public CheckBox {
public:
    bool isChecked() const override { return checked; }
    bool checked = false;
};

// A fresh folder under the system's temporary folder, removed at the end.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& file);

// A test in UTC with a folder and a clock of its own; logInFolder() makes
// Drainwatch.log in the folder the main log. The main log is put away after
// the test, so that nothing reaches the user's own.
class LoggedTest : public ::testing::Test {
public:
    ~LoggedTest() override { Logger::installMain(nullptr); }

protected:
    explicit LoggedTest(double start = 1800000000.0) : clock(start)
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void logInFolder()
    {
        Logger::installMain(std::make_unique<Logger>(folder.path() / "Drainwatch.log", clock, false));
    }
    std::string log() const { return readFile(folder.path() / "Drainwatch.log"); }

    TemporaryFolder folder;
    FakeClock clock;
};

} // namespace drainwatch::test
