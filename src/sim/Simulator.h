// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Activity.h"
#include "battery/MemoryRegistry.h"
#include "history/HistoryDatabase.h"
#include "measure/MemoryPreferenceStore.h"
#include "monitor/ViewController.h"
#include "sleep/LidState.h"
#include "sleep/SleepLedger.h"
#include "sleep/SystemSnapshot.h"

#include <array>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace drainwatch::sim {

// A scenario line the simulator cannot run.
struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class VirtualClock final : public Clock {
public:
    double now() const override { return time; }
    double suspendedSeconds() const override { return suspended; }
    double time = 1800000000.0;
    double suspended = 0;
};

// The simulated /sys and kernel log: what the `system` command set.
class SimulatedSystem final : public SnapshotSource {
public:
    SystemSnapshot take() override;
    SleepEntries sleepEntriesSince(double wallTime) override;

    SystemSnapshot snapshot;
    // /sys/kernel/irq/N/actions
    std::map<std::int64_t, std::string> irqActions;
    // The kernel's sleep entries, each with the time it was logged.
    std::vector<std::pair<double, std::string>> journal;
};

// The applications and the screen as `app` and `screen` script them: each
// application's CPU time grows at its rate on the virtual clock, and the
// busy time is theirs alone.
class SimulatedActivity final : public ActivitySource {
public:
    explicit SimulatedActivity(const VirtualClock& clock) : clock_(clock) {}
    ActivitySnapshot read() override;
    void setRate(const std::string& name, double coresBusy);
    double brightness = 0.5;

private:
    struct App {
        double cpuSeconds = 0; // up to since
        double since = 0;
        double coresBusy = 0;
    };
    const VirtualClock& clock_;
    std::map<std::string, App> apps_;
};

// The process's repeating tick: due at its start + interval × k.
class VirtualTimer final : public RepeatingTimer {
public:
    void start(double intervalSeconds, std::function<void()> onTick) override;
    double nextDue() const { return startedAt + interval * static_cast<double>(nextIndex); }

    double startedAt = 0;
    double interval = 0;
    long long nextIndex = 1;
    std::function<void()> tick;
    const VirtualClock* clock = nullptr;
};

class RecordedField final : public TextField {
public:
    void setText(const std::string& value) override { text = value; }
    std::string text;
};

// Runs the real monitor on a virtual clock with a scripted battery and an
// in-memory store, one scenario command at a time.
class Simulator {
public:
    explicit Simulator(std::ostream& out);
    ~Simulator();

    // Runs every line; throws ScenarioError with "line N: ..." at the first bad one.
    void run(std::istream& scenario);
    void execute(const std::vector<std::string>& words);
    const Clock& clock() const { return clock_; }

private:
    struct Process;

    void launch();
    void advance(double seconds, bool ticksRun);
    void closeWindow();
    void endProcess();
    void setBattery(const std::vector<std::string>& words);
    void setSystem(const std::vector<std::string>& words);
    void setLogind(const std::vector<std::string>& words);
    void printSleeps();
    void printHistory();
    void printDischarges();
    void setActivity(const std::vector<std::string>& words);
    void printApps();
    void printModel();
    void print();
    void printStore();
    Process& running(const std::string& command);

    std::ostream& out_;
    VirtualClock clock_;
    double startTime_ = clock_.time;
    bool launchedOnce_ = false;
    MemoryRegistry battery_;
    MemoryPreferenceStore store_;
    SimulatedSystem system_;
    // The lid and logind's holders, as `lid`, `docked`, `inhibit` set them.
    MemoryLidSource lid_;
    SimulatedActivity activity_{clock_};
    // In memory for the whole scenario, like the store; each process has its
    // own history store on it, whose unflushed samples a kill loses.
    HistoryDatabase database_;
    SleepLedger ledger_;
    // Between a `sleep` and the next `wake` (or launch): the suspended clock runs.
    bool machineAsleep_ = false;
    std::unique_ptr<Process> process_;
};

} // namespace drainwatch::sim
