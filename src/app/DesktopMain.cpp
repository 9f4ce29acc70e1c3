#include "app/DesktopMain.h"

#include "app/BatteryIcon.h"
#include "app/DesktopApp.h"
#include "app/MonitorEnvironment.h"
#include "app/Options.h"
#include "app/QtFileOpener.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"

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
    const Identity identity = Identity::of(options.simulate);
    const QString appId = QStringLiteral("io.github.drainwatch.Drainwatch");

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Drainwatch");
    QCoreApplication::setApplicationVersion(DRAINWATCH_VERSION);
    QGuiApplication::setDesktopFileName(appId);
    QApplication::setWindowIcon(QIcon::fromTheme(appId, batteryIcon(0.7)));
    SingleInstance instance(QString::fromStdString(identity.instanceName));
    if (!instance.tryBecomePrimary()) {
        std::cerr << "Drainwatch: already running; its window comes to the front.\n";
        return 0;
    }

    QtFileOpener fileOpener;
    MonitorEnvironment environment(identity, options.simulate, true, fileOpener);
    ViewController controller(environment.services());
    environment.attach(controller, !options.noNotify);
    DesktopApp desktop(controller, QString::fromStdString(identity.title));
    QObject::connect(&instance, &SingleInstance::activationRequested, &desktop, &DesktopApp::showWindow);
    QObject::connect(QuitSignals::install(&app), &QuitSignals::quitRequested, &desktop, &DesktopApp::quit);
    desktop.start();
    return app.exec();
}

} // namespace drainwatch
