// SPDX-License-Identifier: MIT
#include "terminal/Launcher.h"

#include "activity/ActivityStore.h"
#include "activity/AppsText.h"
#include "battery/BatteryInfo.h"
#include "battery/SysfsRegistry.h"
#include "history/HistoryStore.h"
#include "history/HistoryText.h"
#include "history/LocalTime.h"
#include "platform/LogindQueries.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "sleep/LidText.h"
#include "sleep/SleepLedger.h"
#include "sleep/SleepText.h"
#include "terminal/DisplayProbe.h"
#include "terminal/Follower.h"
#include "terminal/MonitorEnvironment.h"
#include "terminal/Options.h"
#include "terminal/StatusPublisher.h"
#include "terminal/TerminalFrontEnd.h"
#include "terminal/TerminalResize.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include <fmt/format.h>

namespace drainwatch {

namespace {

bool hasDisplay()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// What was printed reached standard output, else a message and exit code 1:
// a full disk or a closed pipe must not pass for success.
int outputWritten()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    const int reason = errno;
    fmt::print(stderr, "Drainwatch: cannot write to standard output: {}\n", std::strerror(reason));
    return 1;
}

int showBatteryInfo(bool simulate)
{
    const SystemClock clock;
    const auto battery = MonitorEnvironment::makeBattery(simulate, clock);
    const BatteryListener listener(*battery);
    auto* sysfs = dynamic_cast<SysfsRegistry*>(battery.get());
    const std::string batteries = sysfs ? sysfs->batteriesText() : "the simulated battery\n";
    // stdio, not std::cout: <iostream> would set up the standard streams in
    // every run, the terminal's too, at a cost in memory.
    std::fputs((batteries + batteryInfoText(listener)).c_str(), stdout);
    const int written = outputWritten();
    if (batteries.empty()) {
        fmt::print(stderr, "Drainwatch: no battery in {}\n", SysfsSnapshotSource::powerSupplyFolder().string());
        return 1;
    }
    return written;
}

// Said as the window says it; beside JSON lines or CSV, on standard error,
// so that a script reading the output finds none.
void sayNoneYet(const char* what, bool onStandardError) { std::fputs(what, onStandardError ? stderr : stdout); }

constexpr const char* kNoSleeps = "No sleep recorded yet.\n";

// Read-only beside a running monitor (WAL).
int showSleeps(const Options& options)
{
    const auto file = SleepLedger::defaultPath(Identity::of(options.simulate).historyFile);
    const SleepLedger ledger(file, SleepLedger::Access::ReadOnly);
    if (!ledger.isOpen()) {
        std::error_code error;
        if (std::filesystem::exists(file, error))
            return 1;
        sayNoneYet(kNoSleeps, options.json);
        return outputWritten();
    }
    const auto records = ledger.records();
    std::string text;
    if (records.empty()) {
        sayNoneYet(kNoSleeps, options.json);
    } else if (options.json) {
        for (const SleepRecord& record : records)
            text += sleepRecordJson(shownFigures(record)) + '\n';
    } else {
        text = sleepTable(records, SysfsSnapshotSource::defaultRoot());
    }
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Without logind the lid is still read from /proc; 1 then.
int showInhibitors()
{
    const LogindAnswers answers = askLogind(ProcLidReader::defaultProcDir());
    std::fputs(inhibitorsText(answers.holders, answers.lid).c_str(), stdout);
    const bool written = std::fflush(stdout) == 0;
    if (!answers.failure.empty()) {
        fmt::print(stderr, "Drainwatch: {}.\n", answers.failure);
        return 1;
    }
    return written ? 0 : 1;
}

// Read-only beside a running monitor (WAL), as --sleeps; no history prints
// the CSV header, or says that there is none.
int showHistory(const Options& options)
{
    const auto file = SleepLedger::defaultPath(Identity::of(options.simulate).historyFile);
    HistoryDatabase database(file, HistoryDatabase::Access::ReadOnly);
    std::error_code error;
    if (!database.isOpen() && std::filesystem::exists(file, error))
        return 1;
    const HistoryStore store(database);
    if (options.history) {
        // Options::parse has checked the dates.
        const double since = options.since ? localDayStart(*options.since).value_or(0) : -1e300;
        const double until = options.until ? localDayStart(*options.until, 1).value_or(0) : 1e300;
        // A line at a time: 400 days of samples would be some 80 MB at once.
        std::fputs(samplesCsvHeader().c_str(), stdout);
        store.forEachSample(since, until,
                            [](const HistorySample& sample) { std::fputs(sampleCsvLine(sample).c_str(), stdout); });
    } else {
        const auto discharges = store.discharges();
        std::fputs((options.csv ? dischargesCsv(discharges) : dischargesTable(discharges)).c_str(), stdout);
        if (discharges.empty())
            sayNoneYet("No discharge recorded yet: one is kept each time the charger is connected.\n", options.csv);
    }
    return outputWritten();
}

// Read-only beside a running monitor (WAL): what it has flushed, every ten
// minutes and at every sleep and end.
int showApps(const Options& options)
{
    const auto file = SleepLedger::defaultPath(Identity::of(options.simulate).historyFile);
    HistoryDatabase database(file, HistoryDatabase::Access::ReadOnly);
    std::error_code error;
    if (!database.isOpen() && std::filesystem::exists(file, error))
        return 1;
    const ActivityStore store(database);
    // Options::parse has checked the dates.
    const double now = SystemClock().now();
    const double since = options.since ? localDayStart(*options.since).value_or(0) : now - 7 * 86400.0;
    const double until = options.until ? localDayStart(*options.until, 1).value_or(0) : now + 1;
    const SpanActivity span = store.span(since, until);
    PowerModel model = store.latestModel().value_or(PowerModel{});
    if (!model.determined())
        model.minutes = learnedMinutes(store, now);
    const std::string text = options.json  ? appsJsonLines(model, span)
                             : options.csv ? appsCsv(model, span)
                                           : appsTable(model, span);
    std::fputs(text.c_str(), stdout);
    if (span.uses.empty())
        sayNoneYet("No activity recorded yet: it is read once a minute while the laptop is awake on battery.\n",
                   options.json || options.csv);
    return outputWritten();
}

int runTerminal(const Options& options, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Drainwatch");
    QCoreApplication::setApplicationVersion(DRAINWATCH_VERSION);
    const Identity identity = Identity::of(options.simulate);
    // A reader that goes away ends the run in order, not by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    const auto format = options.json            ? TerminalFrontEnd::Format::Json
                        : options.waybar        ? TerminalFrontEnd::Format::Waybar
                        : options.format        ? TerminalFrontEnd::Format::Template
                        : isatty(STDOUT_FILENO) ? TerminalFrontEnd::Format::Redraw
                                                : TerminalFrontEnd::Format::Blocks;
    // Options::parse has refused a bad one already.
    std::string formatError;
    const auto line = StatusTemplate::parse(options.format.value_or(""), formatError).value_or(StatusTemplate());
    SingleInstance instance(QString::fromStdString(identity.instanceName));
    // A follower has nothing to save: a quit signal ends it at once, and
    // in order. Counting, it takes the monitor's own handlers below.
    for (const int quit : {SIGINT, SIGTERM, SIGHUP})
        std::signal(quit, [](int) { ::_exit(0); });
    // One monitor counts; a status bar beside the window shows its figures,
    // and counts on in its place once it ends.
    for (bool said = false;;) {
        const SingleInstance::Role role = instance.tryBecomePrimary();
        if (role == SingleInstance::Role::Primary)
            break;
        if (role == SingleInstance::Role::Failed)
            return 1;
        if (!said)
            std::fputs("Drainwatch: already running for this user; showing the figures of that monitor.\n", stderr);
        said = true;
        Follower follower(stdout, format);
        follower.setTemplate(line);
        if (format == TerminalFrontEnd::Format::Redraw)
            follower.columns = [] { return terminalColumns(STDOUT_FILENO); };
        switch (follower.run(instance.follow())) {
        case Follower::End::MonitorEnded:
            continue;
        case Follower::End::OutputLost:
            return 0;
        case Follower::End::NothingCame:
            std::fputs("Drainwatch: the running monitor sends no figures; is it an older version?\n", stderr);
            return 1;
        }
    }

    // No log viewer without a desktop; nothing offers the command either.
    NoFileOpener noFileOpener;
    MonitorEnvironment environment(identity, options.simulate, !options.json && !options.waybar && !options.format,
                                   noFileOpener);
    ViewController controller(environment.services());
    environment.attach(controller, !options.noNotify);
    TerminalFrontEnd frontEnd(controller, stdout, format);
    frontEnd.setEnergyReader(environment.energyReader());
    frontEnd.setTemplate(line);
    const StatusPublisher publisher(controller, instance);
    // Queued: the output may be lost while the first figures are written,
    // before the event loop runs.
    const auto end = [&] {
        QMetaObject::invokeMethod(
            &app,
            [&] {
                frontEnd.stop();
                QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    };
    frontEnd.outputLost = end;
    TerminalResize resize;
    if (format == TerminalFrontEnd::Format::Redraw) {
        frontEnd.setColumns(terminalColumns(STDOUT_FILENO));
        QObject::connect(&resize, &TerminalResize::resized, &app,
                         [&] { frontEnd.setColumns(terminalColumns(STDOUT_FILENO)); });
    }
    QObject::connect(QuitSignals::install(&app), &QuitSignals::quitRequested, &app, end);
    frontEnd.start();
    return app.exec();
}

// Next to this program in the build tree, in libexec once installed. Without
// /proc this program's folder is unknown: the installed path, never one
// relative to the current folder, where anybody's program could be.
std::filesystem::path desktopProgram()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !self.is_absolute())
        return DRAINWATCH_DESKTOP_INSTALLED;
    const auto folder = self.parent_path();
    for (const auto& candidate : {folder / "drainwatch-desktop", folder / DRAINWATCH_DESKTOP_RELATIVE})
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    return folder / DRAINWATCH_DESKTOP_RELATIVE;
}

int runDesktop(char** argv)
{
    const auto program = desktopProgram();
    argv[0] = const_cast<char*>(program.c_str());
    execv(program.c_str(), argv);
    fmt::print(stderr,
               "Drainwatch: cannot start the window program {}: {}; 'drainwatch --terminal' runs without a window.\n",
               program.string(), std::strerror(errno));
    return 1;
}

} // namespace

int runDrainwatch(int argc, char** argv)
{
    // Past a file-size limit a write fails with EFBIG, which the log reports
    // once, instead of killing the monitor. The window program inherits it.
    std::signal(SIGXFSZ, SIG_IGN);
    const Options options = Options::parse({argv + (argc > 0 ? 1 : 0), argv + argc});
    if (!options.error.empty()) {
        fmt::print(stderr, "Drainwatch: {}\n", options.error);
        return 2;
    }
    if (options.help) {
        std::fputs(Options::usage().c_str(), stdout);
        return outputWritten();
    }
    if (options.version) {
        std::fputs("drainwatch " DRAINWATCH_VERSION "\n", stdout);
        return outputWritten();
    }
    if (options.batteryInfo)
        return showBatteryInfo(options.simulate);
    if (options.sleeps)
        return showSleeps(options);
    if (options.apps)
        return showApps(options);
    if (options.inhibitors)
        return showInhibitors();
    if (options.history || options.discharges)
        return showHistory(options);
    // Drawn by the window program, which has the painter, on Qt's offscreen
    // platform: a bug report's graph needs no display.
    if (options.graph) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Else Qt makes /tmp/runtime-<user> for itself.
        QString problem;
        const QString runtime = runtimeFolder(problem);
        if (!runtime.isEmpty())
            ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime).constData(), 1);
        return runDesktop(argv);
    }
    if (options.terminal)
        return runTerminal(options, argc, argv);
    if (!hasDisplay()) {
        std::fputs("Drainwatch: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "running in the terminal.\n",
                   stderr);
        return runTerminal(options, argc, argv);
    }
    if (const auto why = DisplayProbe::fromEnvironment().unreachable()) {
        fmt::print(stderr, "Drainwatch: {}; running in the terminal.\n", *why);
        return runTerminal(options, argc, argv);
    }
    return runDesktop(argv);
}

} // namespace drainwatch
