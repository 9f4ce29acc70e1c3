// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

namespace drainwatch {

// The seams through which the platform reaches the monitor. The application
// implements them with Qt, the tests and the simulator with fakes.

class TextField {
public:
    virtual ~TextField() = default;
    virtual void setText(const std::string& text) = 0;
};

class CheckBox {
public:
    virtual ~CheckBox() = default;
    virtual bool isChecked() const = 0;
};

// A repeating callback on the thread that runs everything else; the first
// call comes one interval after start.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void start(double intervalSeconds, std::function<void()> onTick) = 0;
};

// The machine is about to sleep / has woken. willSleep runs to its end before
// the machine may suspend.
class SleepNotifications {
public:
    virtual ~SleepNotifications() = default;
    virtual void subscribe(std::function<void()> willSleep, std::function<void()> didWake) = 0;
};

// Keeps the two callbacks for whoever delivers the notifications by hand:
// the simulator and the tests.
class StoredSleepNotifications final : public SleepNotifications {
public:
    void subscribe(std::function<void()> willSleep, std::function<void()> didWake) override
    {
        sleep = std::move(willSleep);
        wake = std::move(didWake);
    }
    std::function<void()> sleep;
    std::function<void()> wake;
};

// Opens a file in the application the user prefers for it.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    virtual bool open(const std::string& path) = 0;
};

// Where nothing can open a file: the terminal and the simulator.
class NoFileOpener final : public FileOpener {
public:
    bool open(const std::string&) override { return false; }
};

} // namespace drainwatch
