#include "app/Launcher.h"

#include "app/DisplayProbe.h"
#include "app/MonitorEnvironment.h"
#include "app/Options.h"
#include "app/TerminalFrontEnd.h"
#include "app/TerminalResize.h"
#include "battery/BatteryInfo.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
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

int showBatteryInfo(bool simulate)
{
    const SystemClock clock;
    const auto battery = MonitorEnvironment::makeBattery(simulate, clock);
    const BatteryListener listener(*battery);
    // stdio, not std::cout: <iostream> would set up the standard streams in
    // every run, the terminal's too, at a cost in memory.
    std::fputs(batteryInfoText(listener).c_str(), stdout);
    return 0;
}

int runTerminal(const Options& options, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Drainwatch");
    QCoreApplication::setApplicationVersion(DRAINWATCH_VERSION);
    const Identity identity = Identity::of(options.simulate);
    SingleInstance instance(QString::fromStdString(identity.instanceName));
    if (!instance.tryBecomePrimary()) {
        std::fputs("Drainwatch: already running for this user; a second monitor would write "
                   "the same log and settings.\n",
                   stderr);
        return 0;
    }
    // A reader that goes away ends the run in order, not by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    // No log viewer without a desktop; nothing offers the command either.
    NoFileOpener noFileOpener;
    MonitorEnvironment environment(identity, options.simulate, !options.json && !options.waybar && !options.format,
                                   noFileOpener);
    ViewController controller(environment.services());
    const auto format = options.json            ? TerminalFrontEnd::Format::Json
                        : options.waybar        ? TerminalFrontEnd::Format::Waybar
                        : options.format        ? TerminalFrontEnd::Format::Template
                        : isatty(STDOUT_FILENO) ? TerminalFrontEnd::Format::Redraw
                                                : TerminalFrontEnd::Format::Blocks;
    TerminalFrontEnd frontEnd(controller, stdout, format);
    frontEnd.setEnergyReader(environment.energyReader());
    std::string formatError;
    if (options.format)
        frontEnd.setTemplate(*StatusTemplate::parse(*options.format, formatError));
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

// Next to this program in the build tree, in libexec once installed.
std::filesystem::path desktopProgram()
{
    std::error_code error;
    const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
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
    fmt::print(stderr, "Drainwatch: cannot start the window program {}: {}; 'drainwatch --terminal' runs without a window.\n",
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
        return 0;
    }
    if (options.version) {
        std::fputs("drainwatch " DRAINWATCH_VERSION "\n", stdout);
        return 0;
    }
    if (options.batteryInfo)
        return showBatteryInfo(options.simulate);
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
