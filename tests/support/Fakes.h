// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"
#include "monitor/MonitorServices.h"

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

} // namespace drainwatch::test
