// SPDX-License-Identifier: MIT
#include "desktop/DesktopMain.h"

#include "desktop/BatteryIcon.h"
#include "desktop/DesktopApp.h"
#include "desktop/GraphFile.h"
#include "desktop/QtFileOpener.h"
#include "platform/LogindQueries.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "sleep/LidText.h"
#include "terminal/MonitorEnvironment.h"
#include "terminal/Options.h"
#include "terminal/StatusPublisher.h"

#include <QApplication>

#include <iostream>

namespace drainwatch {

int runDesktop(int argc, char** argv)
{
    const Options options = Options::parse({argv + (argc > 0 ? 1 : 0), argv + argc});
    if (!options.error.empty()) {
        std::cerr << "Drainwatch: " << options.error << '\n';
        return 2;
    }
    if (options.graph) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return writeGraphFile(*options.graph, options.range, options.simulate);
    }
    const Identity identity = Identity::of(options.simulate);
    const QString appId = QStringLiteral("io.github.drainwatch.Drainwatch");

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Drainwatch");
    QCoreApplication::setApplicationVersion(DRAINWATCH_VERSION);
    QGuiApplication::setDesktopFileName(appId);
    QApplication::setWindowIcon(QIcon::fromTheme(appId, batteryIcon({0.7})));
    SingleInstance instance(QString::fromStdString(identity.instanceName));
    switch (instance.tryBecomePrimary()) {
    case SingleInstance::Role::Primary:
        break;
    case SingleInstance::Role::Failed:
        return 1;
    case SingleInstance::Role::Secondary:
        switch (instance.requestWindow()) {
        case SingleInstance::WindowAnswer::Shown:
            std::cerr << "Drainwatch: already running; its window comes to the front.\n";
            return 0;
        case SingleInstance::WindowAnswer::Windowless:
            std::cerr << "Drainwatch: already counting without a window (drainwatch --terminal or --json); "
                         "end that one to open the window.\n";
            return 1;
        case SingleInstance::WindowAnswer::NoAnswer:
            std::cerr << "Drainwatch: already running, but it did not answer the request for its window.\n";
            return 1;
        }
    }
    instance.setHasWindow(true);

    QtFileOpener fileOpener;
    MonitorEnvironment environment(identity, options.simulate, true, fileOpener);
    ViewController controller(environment.services());
    environment.attach(controller, !options.noNotify);
    DesktopApp desktop(controller, QString::fromStdString(identity.title),
                       QSettingsPreferenceStore::defaultPath(QString::fromStdString(identity.storeFile)));
    if (options.simulate)
        desktop.autostart = Autostart({QStringLiteral("--simulate")});
    desktop.window().setFileOpener(fileOpener);
    desktop.window().setEnergyReader(environment.energyReader());
    desktop.window().sleepsPane().setInhibitorsReader([] {
        const LogindAnswers answers = askLogind(ProcLidReader::defaultProcDir());
        return inhibitorsText(answers.holders, answers.lid);
    });
    // The monitor's own store: it holds the samples not flushed yet, up to
    // ten minutes of them. The sleeps come from the file.
    HistoryReader history = historyFileReader(options.simulate);
    const HistoryStore& store = environment.history();
    history.eachSample = [&store](double since, double until, const SampleVisitor& visit) {
        store.forEachSample(since, until, visit);
    };
    history.discharges = [&store] { return store.discharges(); };
    // The in-process recorder: its span holds the minutes not flushed yet.
    const ActivityRecorder& recorder = environment.activity();
    history.activity = [&recorder](double since, double until) { return recorder.store().span(since, until); };
    history.model = [&recorder] { return recorder.model(); };
    history.unpluggedAt = [&controller]() -> std::optional<double> {
        if (!controller.lastCountingTimeState || controller.dischargeTimer.startedAt <= 0)
            return std::nullopt;
        return controller.dischargeTimer.startedAt;
    };
    desktop.window().setHistoryReader(std::move(history));
    const StatusPublisher publisher(controller, instance);
    QObject::connect(&instance, &SingleInstance::activationRequested, &desktop, &DesktopApp::showWindow);
    QObject::connect(QuitSignals::install(&app), &QuitSignals::quitRequested, &desktop, &DesktopApp::quit);
    desktop.start(options.tray);
    return app.exec();
}

} // namespace drainwatch
