// SPDX-License-Identifier: MIT
#include "sim/Simulator.h"

#include "activity/ActivityRecorder.h"
#include "history/HistoryText.h"
#include "log/JsonText.h"
#include "sleep/LidText.h"
#include "sleep/SleepText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include <fmt/printf.h>

namespace drainwatch::sim {

namespace {

// Clock values near 1.8e9 carry about 2e-7 s of rounding: a tick due within a
// microsecond of the end of an advance is due.
constexpr double kDueTolerance = 1e-6;
// The clock stays below the year 5000, where 5 s still move it by 5 s; an
// advance runs its ticks one by one, so it is kept to about a year of them.
constexpr double kLatestTime = 1e11;
constexpr double kLongestAdvance = 3.2e7;

double parseNumber(const std::string& word)
{
    double value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
        throw ScenarioError("malformed number '" + word + "'");
    return value;
}

double parseTime(const std::string& word)
{
    const double value = parseNumber(word);
    if (value < 0)
        throw ScenarioError("negative time '" + word + "'");
    return value;
}

RegistryProperty parseValue(const std::string& word)
{
    if (word == "true")
        return true;
    if (word == "false")
        return false;
    std::int64_t integer = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), integer);
    if (error == std::errc() && end == word.data() + word.size())
        return integer;
    return parseNumber(word);
}

// The `system` keys that set a count of /sys.
const std::map<std::string, std::optional<std::int64_t> SystemSnapshot::*> kSystemCounters = {
    {"success", &SystemSnapshot::successes},
    {"fail", &SystemSnapshot::failures},
    {"total_hw_sleep", &SystemSnapshot::hardwareSleepUs},
    {"max_hw_sleep", &SystemSnapshot::maxHardwareSleepUs},
    {"lpit", &SystemSnapshot::lpitResidencyUs},
    {"pm_wakeup_irq", &SystemSnapshot::wakeupIrq},
};

bool isSuspendStep(const std::string& step)
{
    return std::find(std::begin(kSuspendSteps), std::end(kSuspendSteps), step) != std::end(kSuspendSteps);
}

void expectWords(const std::vector<std::string>& words, std::size_t count)
{
    if (words.size() != count)
        throw ScenarioError(
            fmt::format("'{}' takes {} word(s) after it, not {}", words[0], count - 1, words.size() - 1));
}

} // namespace

SystemSnapshot SimulatedSystem::take()
{
    SystemSnapshot taken = snapshot;
    if (taken.wakeupIrq)
        if (const auto actions = irqActions.find(*taken.wakeupIrq); actions != irqActions.end())
            taken.wakeupIrqActions = actions->second;
    return taken;
}

SleepEntries SimulatedSystem::sleepEntriesSince(double wallTime)
{
    SleepEntries entries;
    for (const auto& [time, entry] : journal)
        if (time >= wallTime)
            entries.push_back(entry);
    return entries;
}

ActivitySnapshot SimulatedActivity::read()
{
    ActivitySnapshot snapshot;
    snapshot.time = clock_.time;
    double busy = 0;
    for (const auto& [name, app] : apps_) {
        const double cpu = app.cpuSeconds + app.coresBusy * (clock_.time - app.since);
        snapshot.counters[name] = ActivityCounter{name, "", ActivityKind::App, cpu, std::nullopt};
        busy += cpu;
    }
    snapshot.busySeconds = busy;
    snapshot.brightness = brightness;
    return snapshot;
}

void SimulatedActivity::setRate(const std::string& name, double coresBusy)
{
    App& app = apps_[name];
    app.cpuSeconds += app.coresBusy * (clock_.time - app.since);
    app.since = clock_.time;
    app.coresBusy = coresBusy;
}

void VirtualTimer::start(double intervalSeconds, std::function<void()> onTick)
{
    startedAt = clock->time;
    interval = intervalSeconds;
    nextIndex = 1;
    tick = std::move(onTick);
}

struct Simulator::Process {
    Process(VirtualClock& clock, MemoryRegistry& battery, MemoryPreferenceStore& store, SimulatedSystem& system,
            SleepLedger& ledger, HistoryDatabase& database, LidSource& lid, ActivitySource& activity)
        : tracker(clock, system, ledger),
          guard(clock, lid, ledger, &tracker),
          history(database),
          recorder(clock, history),
          activityStore(database),
          activityRecorder(clock, activity, activityStore),
          controller(MonitorServices{clock, battery, store, timer, sleep, opener})
    {
        timer.clock = &clock;
        controller.sleepTracker = &tracker;
        controller.historyRecorder = &recorder;
        controller.lidGuard = &guard;
        controller.activityRecorder = &activityRecorder;
        guard.settings = &store;
        // The simulated inhibitors are held by uid 1000.
        guard.userId = 1000;
        for (std::size_t i = 0; i < fields.size(); ++i)
            controller.*kTextOutlets[i].member = &fields[i];
    }

    VirtualTimer timer;
    StoredSleepNotifications sleep;
    NoFileOpener opener;
    std::array<RecordedField, 9> fields;
    SleepTracker tracker;
    LidGuard guard;
    HistoryStore history;
    HistoryRecorder recorder;
    ActivityStore activityStore;
    ActivityRecorder activityRecorder;
    ViewController controller;
    bool windowOpen = false;
};

Simulator::Simulator(std::ostream& out) : out_(out), ledger_(database_)
{
    // logind's defaults: the lid suspends, and sleep locks do not stop it.
    lid_.state.closed = false;
    lid_.holding = LidHolders{std::vector<Inhibitor>{}, "suspend", "ignore", true};
    // What logind is asked; the scenario then says `sleep` if it slept.
    lid_.suspended = [this] { out_ << "logind: Suspend\n"; };
}

Simulator::~Simulator() = default;

void Simulator::run(std::istream& scenario)
{
    std::string line;
    for (int number = 1; std::getline(scenario, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream split(line);
        std::vector<std::string> words;
        for (std::string word; split >> word;)
            words.push_back(word);
        if (words.empty())
            continue;
        try {
            execute(words);
        } catch (const ScenarioError& error) {
            throw ScenarioError(fmt::format("line {}: {}", number, error.what()));
        }
    }
}

void Simulator::execute(const std::vector<std::string>& words)
{
    const std::string& command = words[0];
    if (command == "start") {
        expectWords(words, 2);
        if (launchedOnce_)
            throw ScenarioError("'start' comes before the first 'launch'");
        const double time = parseTime(words[1]);
        if (time > kLatestTime)
            throw ScenarioError(fmt::format("start time '{}' is past {:g}", words[1], kLatestTime));
        clock_.time = startTime_ = time;
    } else if (command == "battery") {
        if (words.size() < 2)
            throw ScenarioError("'battery' needs 'none' or KEY=VALUE words");
        setBattery(words);
    } else if (command == "launch") {
        expectWords(words, 1);
        if (process_)
            throw ScenarioError("a process runs already");
        launch();
    } else if (command == "advance" || command == "stall" || command == "suspend") {
        // The three moves of the clock, checked alike: past the latest time
        // the count of skipped ticks no longer fits, and a suspend of 1e300 s
        // would never end.
        expectWords(words, 2);
        const double seconds = parseTime(words[1]);
        if (command == "stall")
            running(command);
        else if (command == "advance" && seconds > kLongestAdvance)
            throw ScenarioError(
                fmt::format("'advance' takes at most {:g} s; 'stall' skips longer spells", kLongestAdvance));
        if (clock_.time + seconds > kLatestTime)
            throw ScenarioError(fmt::format("the clock would pass {:g}", kLatestTime));
        if (seconds > 0 && clock_.time + seconds == clock_.time)
            throw ScenarioError(fmt::format("the clock cannot move by {:g} s at {:.17g}", seconds, clock_.time));
        advance(seconds, command == "advance");
        if (command == "suspend")
            clock_.suspended += seconds;
    } else if (command == "sleep" || command == "wake") {
        expectWords(words, 1);
        Process& p = running(command);
        machineAsleep_ = command == "sleep";
        (command == "sleep" ? p.sleep.sleep : p.sleep.wake)();
    } else if (command == "system") {
        if (words.size() < 2)
            throw ScenarioError("'system' needs KEY=VALUE words");
        setSystem(words);
    } else if (command == "lid" || command == "docked" || command == "inhibit" || command == "uninhibit" ||
               command == "lidswitch") {
        setLogind(words);
    } else if (command == "app" || command == "screen") {
        setActivity(words);
    } else if (command == "apps") {
        expectWords(words, 1);
        printApps();
    } else if (command == "model") {
        expectWords(words, 1);
        printModel();
    } else if (command == "setting") {
        // An integer key of the settings file, as the user writes it.
        expectWords(words, 3);
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(words[2].data(), words[2].data() + words[2].size(), value);
        if (error != std::errc() || end != words[2].data() + words[2].size())
            throw ScenarioError("malformed integer '" + words[2] + "'");
        store_.setInteger(value, words[1]);
    } else if (command == "sleeps") {
        expectWords(words, 1);
        printSleeps();
    } else if (command == "lastsleep") {
        expectWords(words, 1);
        const auto& record = running(command).tracker.lastRecord();
        out_ << (record ? lastSleepLine(*record) : std::string("Last sleep: none")) << '\n';
    } else if (command == "history") {
        expectWords(words, 1);
        printHistory();
    } else if (command == "discharges") {
        expectWords(words, 1);
        printDischarges();
    } else if (command == "close") {
        expectWords(words, 1);
        running(command);
        closeWindow();
    } else if (command == "show" || command == "hide") {
        expectWords(words, 1);
        Process& p = running(command);
        if (command == "show") {
            p.windowOpen = true;
            p.controller.viewDidAppear();
        } else {
            p.controller.viewDidDisappear();
        }
    } else if (command == "reset") {
        expectWords(words, 1);
        running(command).controller.resetButtonClicked();
    } else if (command == "quit") {
        expectWords(words, 1);
        Process& p = running(command);
        if (p.windowOpen)
            closeWindow();
        p.controller.applicationWillTerminate();
        endProcess();
    } else if (command == "kill") {
        expectWords(words, 1);
        running(command);
        endProcess();
    } else if (command == "print") {
        expectWords(words, 1);
        running(command);
        print();
    } else if (command == "store") {
        expectWords(words, 1);
        printStore();
    } else {
        throw ScenarioError("unknown command '" + command + "'");
    }
}

Simulator::Process& Simulator::running(const std::string& command)
{
    if (!process_)
        throw ScenarioError("'" + command + "' needs a running process");
    return *process_;
}

void Simulator::launch()
{
    launchedOnce_ = true;
    machineAsleep_ = false;
    process_ = std::make_unique<Process>(clock_, battery_, store_, system_, ledger_, database_, lid_, activity_);
    // The desktop notification, as it would be sent; its lines joined by " / ".
    process_->guard.noticed = [this](const LidNotice& notice) {
        std::string body = notice.body;
        for (std::size_t at = 0; (at = body.find('\n', at)) != std::string::npos;)
            body.replace(at, 1, " / ");
        out_ << "notification: " << notice.summary << " | " << body << '\n';
    };
    process_->controller.viewDidLoad();
    process_->windowOpen = true;
    process_->controller.viewDidAppear();
}

void Simulator::advance(double seconds, bool ticksRun)
{
    const double end = clock_.time + seconds;
    if (!ticksRun && process_ && process_->timer.tick) {
        // The ticks a stall skips are counted, not walked: the first one due
        // after the end, as stepping one by one would find it.
        VirtualTimer& timer = process_->timer;
        const long long first = timer.nextIndex;
        const double steps = std::floor((end + kDueTolerance - timer.startedAt) / timer.interval);
        timer.nextIndex = std::max(first, static_cast<long long>(steps) + 1);
        while (timer.nextIndex > first &&
               timer.startedAt + timer.interval * static_cast<double>(timer.nextIndex - 1) > end + kDueTolerance)
            --timer.nextIndex;
        while (timer.nextDue() <= end + kDueTolerance)
            ++timer.nextIndex;
    }
    if (machineAsleep_)
        clock_.suspended += seconds;
    while (process_ && process_->timer.tick && process_->timer.nextDue() <= end + kDueTolerance) {
        const double due = process_->timer.nextDue();
        ++process_->timer.nextIndex;
        clock_.time = std::max(clock_.time, due);
        process_->timer.tick();
    }
    clock_.time = end;
}

void Simulator::closeWindow()
{
    process_->controller.windowWillClose();
    process_->controller.viewDidDisappear();
    process_->windowOpen = false;
}

void Simulator::endProcess() { process_.reset(); }

void Simulator::setBattery(const std::vector<std::string>& words)
{
    if (words.size() == 2 && words[1] == "none") {
        battery_.clear();
        return;
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        if (equals == std::string::npos)
            throw ScenarioError("'" + words[i] + "' is not KEY=VALUE");
        const std::string key = words[i].substr(0, equals);
        const std::string value = words[i].substr(equals + 1);
        if (!Battery::keyFromRawValue(key))
            throw ScenarioError("'" + key + "' is not a battery key");
        if (value == "-")
            battery_.remove(key);
        else
            battery_.set(key, parseValue(value));
    }
}

void Simulator::setSystem(const std::vector<std::string>& words)
{
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        if (equals == std::string::npos)
            throw ScenarioError("'" + words[i] + "' is not KEY=VALUE");
        const std::string key = words[i].substr(0, equals);
        const std::string value = words[i].substr(equals + 1);
        const bool remove = value == "-";
        const auto count = [&]() -> std::optional<std::int64_t> {
            if (remove)
                return std::nullopt;
            std::int64_t number = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() || number < 0)
                throw ScenarioError("malformed number '" + value + "'");
            return number;
        };
        const auto word = [&]() -> std::optional<std::string> {
            if (remove)
                return std::nullopt;
            if (value.empty())
                throw ScenarioError("'" + key + "' needs a value or '-'");
            return value;
        };
        SystemSnapshot& s = system_.snapshot;
        if (const auto counter = kSystemCounters.find(key); counter != kSystemCounters.end()) {
            s.*counter->second = count();
        } else if (key == "mem_sleep") {
            s.mode = word();
        } else if (key == "last_failed_dev") {
            s.lastFailedDevice = word();
        } else if (key.starts_with("failed_") && isSuspendStep(key.substr(7))) {
            if (const auto n = count())
                s.stepFailures[key.substr(7)] = *n;
            else
                s.stepFailures.erase(key.substr(7));
        } else if (key.starts_with("irq.") && key.size() > 4) {
            const auto irq = parseValue(key.substr(4));
            if (!std::holds_alternative<std::int64_t>(irq) || std::get<std::int64_t>(irq) <= 0)
                throw ScenarioError("'" + key + "' needs an interrupt number");
            if (const auto actions = word())
                system_.irqActions[std::get<std::int64_t>(irq)] = *actions;
            else
                system_.irqActions.erase(std::get<std::int64_t>(irq));
        } else if (key == "resume") {
            s.canHibernate = !remove && value != "0:0";
        } else if (key == "journal") {
            // Entries logged now, comma-separated.
            for (std::size_t from = 0; !remove && from <= value.size();) {
                const auto comma = std::min(value.find(',', from), value.size());
                const std::string entry = value.substr(from, comma - from);
                if (entry != "s2idle" && entry != "deep" && entry != "shallow" && entry != "hibernate")
                    throw ScenarioError("'" + entry + "' is not a sleep entry (s2idle, deep, shallow, hibernate)");
                system_.journal.emplace_back(clock_.time, entry);
                from = comma + 1;
            }
        } else if (key.starts_with("wakeup.") && key.size() > 7) {
            const std::string name = key.substr(7);
            if (const auto n = count()) {
                if (!s.wakeupEvents)
                    s.wakeupEvents.emplace();
                (*s.wakeupEvents)[name] = *n;
            } else if (s.wakeupEvents) {
                s.wakeupEvents->erase(name);
                // The last source gone: no wakeup folder, as before any `system`.
                if (s.wakeupEvents->empty())
                    s.wakeupEvents.reset();
            }
        } else {
            throw ScenarioError("'" + key + "' is not a system key");
        }
    }
}

void Simulator::setLogind(const std::vector<std::string>& words)
{
    const std::string& command = words[0];
    // In a name or reason, "_" stands for a blank.
    const auto spaced = [](std::string word) {
        std::replace(word.begin(), word.end(), '_', ' ');
        return word;
    };
    auto& locks = *lid_.holding.inhibitors;
    if (command == "lid") {
        expectWords(words, 2);
        if (words[1] != "closed" && words[1] != "open")
            throw ScenarioError("'lid' takes 'closed' or 'open', not '" + words[1] + "'");
        lid_.state.closed = words[1] == "closed";
    } else if (command == "docked") {
        expectWords(words, 2);
        if (words[1] != "yes" && words[1] != "no")
            throw ScenarioError("'docked' takes 'yes' or 'no', not '" + words[1] + "'");
        lid_.state.docked = words[1] == "yes";
    } else if (command == "inhibit") {
        expectWords(words, 5);
        if (words[4] != "block" && words[4] != "delay")
            throw ScenarioError("an inhibitor's mode is 'block' or 'delay', not '" + words[4] + "'");
        locks.push_back(Inhibitor{words[3], spaced(words[1]), spaced(words[2]), words[4], 1000, 4242});
    } else if (command == "uninhibit") {
        expectWords(words, 2);
        const std::string who = spaced(words[1]);
        const auto held = std::remove_if(locks.begin(), locks.end(), [&](const Inhibitor& i) { return i.who == who; });
        if (held == locks.end())
            throw ScenarioError("no inhibitor held by '" + who + "'");
        locks.erase(held, locks.end());
    } else {
        expectWords(words, 2);
        lid_.holding.handleLidSwitch = words[1];
    }
}

void Simulator::printSleeps()
{
    for (const SleepRecord& record : ledger_.records())
        out_ << sleepRecordJson(record) << '\n';
}

// `app NAME cpu=X` and `screen brightness=F`.
void Simulator::setActivity(const std::vector<std::string>& words)
{
    const bool app = words[0] == "app";
    expectWords(words, app ? 3 : 2);
    const std::string& setting = words.back();
    const std::string prefix = app ? "cpu=" : "brightness=";
    if (setting.rfind(prefix, 0) != 0)
        throw ScenarioError(fmt::format("'{}' needs {}VALUE", words[0], prefix));
    const double value = parseNumber(setting.substr(prefix.size()));
    if (value < 0 || (!app && value > 1))
        throw ScenarioError(fmt::format("'{}' is out of range", setting));
    if (app)
        activity_.setRate(words[1], value);
    else
        activity_.brightness = value;
}

namespace {

// Rounded, so that the last bits of a fit do not decide a scenario's output.
std::string rounded(const std::optional<double>& value, int decimals)
{
    if (!value || !std::isfinite(*value))
        return "null";
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(*value * scale) / scale;
    return jsonNumber(r == 0 ? 0.0 : r);
}

} // namespace

// What used the battery over the whole run, with the model as it stands.
void Simulator::printApps()
{
    const ActivityStore store(database_);
    const SpanActivity span =
        process_ ? process_->activityStore.span(startTime_, clock_.time + 1) : store.span(startTime_, clock_.time + 1);
    const PowerModel model = process_ ? process_->activityRecorder.model() : store.latestModel().value_or(PowerModel{});
    const auto rows = attribute(model, span);
    if (rows.empty()) {
        for (const ActivityUse& use : span.uses)
            out_ << fmt::format(R"({{"name":{}, "kind":"app", "energyWh":null, "share":null, "cpuSeconds":{}}})",
                                jsonString(use.name), rounded(use.cpuSeconds, 1))
                 << '\n';
        return;
    }
    for (const EnergyRow& row : rows)
        out_ << fmt::format(R"({{"name":{}, "kind":"{}", "energyWh":{}, "share":{}, "cpuSeconds":{}}})",
                            jsonString(row.name), energyKindName(row.kind), rounded(row.energyWh, 3),
                            rounded(row.share, 3), rounded(row.cpuSeconds, 1))
             << '\n';
}

void Simulator::printModel()
{
    const PowerModel model =
        process_ ? process_->activityRecorder.model() : ActivityStore(database_).latestModel().value_or(PowerModel{});
    out_ << fmt::format(R"({{"baseW":{}, "cpuW":{}, "screenW":{}, "gpuW":{}, "netW":{}, "r2":{}, "minutes":{}, )"
                        R"("heldOutErrorW":{}, "quality":{}}})",
                        rounded(model.baseW, 2), rounded(model.cpuW, 2), rounded(model.screenW, 2),
                        rounded(model.gpuW, 2), rounded(model.netW, 2), rounded(model.r2, 3), model.minutes,
                        rounded(model.heldOutErrorW, 2), jsonString(modelQualityText(model)))
         << '\n';
}

// What another process reads: the flushed samples only, as `drainwatch
// --history` finds them beside a running monitor.
void Simulator::printHistory()
{
    out_ << samplesCsvHeader();
    HistoryStore(database_).forEachSample(std::numeric_limits<double>::lowest(), std::numeric_limits<double>::max(),
                                          [this](const HistorySample& sample) { out_ << sampleCsvLine(sample); });
}

void Simulator::printDischarges() { out_ << dischargesCsv(HistoryStore(database_).discharges()); }

void Simulator::print()
{
    out_ << fmt::sprintf("-- t=%.1f\n", clock_.time - startTime_);
    for (std::size_t i = 0; i < process_->fields.size(); ++i)
        out_ << kTextOutlets[i].name << ": " << process_->fields[i].text << '\n';
}

void Simulator::printStore()
{
    for (const auto& [key, value] : store_.entries()) {
        if (const auto* d = std::get_if<double>(&value))
            out_ << fmt::sprintf("%s = %.17g\n", key, *d);
        else
            out_ << key << " = " << std::get<std::int64_t>(value) << '\n';
    }
    out_ << "--\n";
}

} // namespace drainwatch::sim
