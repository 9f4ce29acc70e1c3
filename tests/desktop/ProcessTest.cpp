// SPDX-License-Identifier: MIT
// The built program in private XDG folders, with no display and no session bus.
#include "battery/SimulatedBattery.h"
#include "desktop/GraphPainter.h"
#include "history/HistoryStore.h"
#include "platform/PlatformTestSupport.h"
#include "sleep/SleepLedger.h"
#include "support/AppFixture.h"

#include <QDateTime>
#include <QImage>
#include <QPalette>

#include <QFileInfo>

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

namespace drainwatch::test {
namespace {

const char* const kLog = "XDG_STATE_HOME/Logs/Drainwatch/Drainwatch-simulated.log";
const char* const kStore = "XDG_CONFIG_HOME/Drainwatch/Drainwatch-simulated.conf";

class ProcessTest : public ::testing::Test {
protected:
    ProcessTest()
    {
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            environment.remove(variable);
        for (const auto& [variable, folder] : xdgFolders(home.path()))
            environment.insert(QString::fromStdString(variable), QString::fromStdString(folder));
    }
    void start(QProcess& process, const QStringList& arguments)
    {
        process.setProcessEnvironment(environment);
        process.start(DRAINWATCH_BINARY, arguments);
        ASSERT_TRUE(process.waitForStarted(kHangMs));
    }
    void endWith(int signal)
    {
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(kHangMs)) << "no orderly end after signal " << signal;
        EXPECT_TRUE(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
    }
    // Runs the program to its end: what it wrote to `channel`.
    std::string finish(const QStringList& arguments, QProcess::ProcessChannel channel = QProcess::StandardOutput)
    {
        start(program, arguments);
        EXPECT_TRUE(program.waitForFinished(kHangMs));
        program.setReadChannel(channel);
        std::string written = program.readAll().toStdString();
        program.setReadChannel(QProcess::StandardOutput);
        return written;
    }
    std::string file(const char* path) const { return readFile(home.path() / path); }

    TemporaryFolder home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    ChildProcess program;
};

TEST_F(ProcessTest, UnknownOptionIsRefusedAndAJsonRunOnTheSimulatedBatteryEndsInOrderOnSigterm)
{
    EXPECT_NE(finish({"--frobnicate"}, QProcess::StandardError).find("--frobnicate"), std::string::npos);
    EXPECT_EQ(program.exitCode(), 2);

    start(program, {"--json", "--simulate"});
    const QString line = readLine(program);
    const QJsonObject first = QJsonDocument::fromJson(line.toUtf8()).object();
    EXPECT_EQ(first.size(), 19) << line.toStdString() << program.readAllStandardError().toStdString();
    EXPECT_TRUE(first["lastSleep"].isNull());
    EXPECT_TRUE(first["topApp"].isNull());
    EXPECT_NEAR(first["charge"].toDouble(), 0.85, 0.01);
    endWith(SIGTERM);
    EXPECT_EQ(quitsIn(file(kLog)), 1);
    EXPECT_NE(file(kStore).find("lastPercentage"), std::string::npos);
    EXPECT_EQ(
        file("XDG_CONFIG_HOME/Drainwatch/Drainwatch.conf") + file("XDG_STATE_HOME/Logs/Drainwatch/Drainwatch.log"), "")
        << "the real store and log are not touched";
}

TEST_F(ProcessTest, SleepsPrintsTheHistoryReadOnly)
{
    // No history yet: said as the window says it, and nothing made.
    EXPECT_EQ(finish({"--sleeps"}), "No sleep recorded yet.\n");
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(home.path() / "XDG_STATE_HOME" / "Drainwatch"));
    EXPECT_EQ(finish({"--discharges"}), "No discharge recorded yet: one is kept each time the charger is connected.\n");

    // A monitor that ran made an empty history. JSON lines and CSV stay
    // what a script reads: the words go to standard error.
    start(program, {"--json", "--simulate"});
    readLine(program);
    endWith(SIGTERM);
    const auto history = home.path() / "XDG_STATE_HOME" / "Drainwatch" / "history-simulated.sqlite";
    EXPECT_TRUE(std::filesystem::exists(history));
    EXPECT_EQ(finish({"--sleeps", "--json", "--simulate"}), "");
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(program.readAllStandardError().toStdString(), "No sleep recorded yet.\n");
    EXPECT_EQ(finish({"--sleeps", "--simulate"}), "No sleep recorded yet.\n");
    const std::string csv = finish({"--discharges", "--csv", "--simulate"});
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1) << "the header alone: " << csv;
    EXPECT_NE(program.readAllStandardError().indexOf("No discharge recorded yet"), -1);

    // A damaged one is said and left as it is.
    {
        std::ofstream damaged(history, std::ios::trunc);
        damaged << "not a database\n";
    }
    EXPECT_EQ(finish({"--simulate", "--sleeps"}), "");
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(program.readAllStandardError().indexOf("history-simulated.sqlite"), -1);
    EXPECT_EQ(readFile(history), "not a database\n");
}

// Without a display, beside a running monitor, and with no history at all.
TEST_F(ProcessTest, GraphDrawsTheHistoryIntoAPngOrSaysWhyNot)
{
    const auto stderrOf = [this](const QStringList& arguments) { return finish(arguments, QProcess::StandardError); };
    const auto png = home.path() / "graph.png";
    // Without a runtime folder Qt would make /tmp/runtime-<user>, and say so.
    environment.remove("XDG_RUNTIME_DIR");
    EXPECT_EQ(stderrOf({"--graph", QString::fromStdString(png.string())}), "");
    EXPECT_EQ(program.exitCode(), 0);
    const QImage empty(QString::fromStdString(png.string()));
    EXPECT_EQ(empty.width(), 960);
    EXPECT_GT(empty.height(), 360) << "the key below the graph";
    EXPECT_FALSE(std::filesystem::exists(home.path() / "XDG_STATE_HOME" / "Drainwatch")) << "no history is made";

    for (const QStringList& bad :
         {QStringList{"--graph", "x.png", "--range", "2d"}, QStringList{"--range", "7d"}, QStringList{"--graph"}}) {
        const std::string said = stderrOf(bad);
        EXPECT_EQ(program.exitCode(), 2) << bad.join(' ').toStdString();
        EXPECT_NE(said.find(bad.size() == 4   ? "unknown range '2d'"
                            : bad.size() == 2 ? "goes with --graph"
                                              : "needs a file"),
                  std::string::npos)
            << said;
    }
    EXPECT_FALSE(std::filesystem::exists("x.png"));
    const std::string said =
        stderrOf({"--graph", QString::fromStdString((home.path() / "no-folder" / "g.png").string())});
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(said.find("cannot write the graph to "), std::string::npos) << said;

    // A sleep from ten to four hours ago, recorded while a monitor runs.
    start(program, {"--json", "--simulate"});
    readLine(program);
    const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    // Then three hours of samples, the first on the charger.
    {
        HistoryDatabase database(home.path() / "XDG_STATE_HOME" / "Drainwatch" / "history-simulated.sqlite",
                                 HistoryDatabase::Access::ReadWrite);
        SleepLedger ledger(database);
        HistoryStore store(database);
        SleepRecord night;
        night.how = "suspend";
        night.start = now - 10 * 3600;
        night.end = now - 4 * 3600;
        ASSERT_TRUE(ledger.add(night));
        for (int minute = 0; minute <= 180; ++minute) {
            HistorySample sample;
            sample.time = now - 4 * 3600 + minute * 60;
            sample.onExternalPower = minute < 60;
            sample.charge = 0.5 + (minute < 60 ? minute : 120 - minute) / 200.0;
            store.addSample(sample);
        }
        ASSERT_TRUE(store.flush());
    }
    ChildProcess graph;
    start(graph, {"--simulate", "--graph", QString::fromStdString(png.string()), "--range", "24h"});
    ASSERT_TRUE(graph.waitForFinished(kHangMs));
    EXPECT_EQ(graph.exitCode(), 0) << graph.readAllStandardError().toStdString();
    endWith(SIGTERM);
    const QImage drawn(QString::fromStdString(png.string()));
    const QRect graphArea(0, 0, 960, 360);
    GraphPainter geometry;
    geometry.reduce(GraphData{{}, {}, now - 86400, now}, graphArea);
    const QRect plot = GraphPainter::plotArea(graphArea);
    const int low = plot.bottom() - plot.height() / 10;
    const QRgb base = QPalette().color(QPalette::Base).rgb();
    EXPECT_NE(drawn.pixel(geometry.timeToX(now - 7 * 3600), low), base) << "asleep";
    EXPECT_EQ(drawn.pixel(geometry.timeToX(now - 7 * 3600), low), drawn.pixel(geometry.timeToX(now - 9 * 3600), low));
    const QRgb charger = drawn.pixel(geometry.timeToX(now - 3.5 * 3600), low);
    EXPECT_NE(charger, base);
    EXPECT_NE(charger, drawn.pixel(geometry.timeToX(now - 7 * 3600), low));
    EXPECT_EQ(drawn.pixel(geometry.timeToX(now - 2 * 3600), low), base) << "on battery";
    EXPECT_EQ(drawn.pixel(geometry.timeToX(now - 0.5 * 3600), low), base) << "not running";
}

TEST_F(ProcessTest, WithoutADisplayItRunsInTheTerminalAndSaysSo)
{
    start(program, {"--simulate"});
    EXPECT_TRUE(readLine(program).startsWith("file://")) << "a first run says first where its new log is";
    QStringList block;
    for (int i = 0; i < 9; ++i)
        block << readLine(program);
    EXPECT_TRUE(block[5].startsWith("Charge now  85.0%")) << block.join('\n').toStdString();
    endWith(SIGINT);
    EXPECT_NE(program.readAllStandardError().indexOf("no display"), -1);
    EXPECT_EQ(quitsIn(file(kLog)), 1);
}

// With a display (Qt's offscreen platform) the command is the window program.
TEST_F(ProcessTest, WindowProgramRunsOnceAndSigtermQuitsLikeTheQuitCommand)
{
    environment.insert("DISPLAY", ":99");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    start(program, {"--simulate"});
    const QDeadlineTimer deadline(kHangMs);
    while (file(kLog).find("Started app") == std::string::npos && !deadline.hasExpired())
        ASSERT_FALSE(program.waitForFinished(50)) << program.readAllStandardError().toStdString();
    ChildProcess second;
    start(second, {"--simulate"});
    ASSERT_TRUE(second.waitForFinished(kHangMs));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_NE(second.readAllStandardError().indexOf("already running"), -1);
    endWith(SIGTERM);
    EXPECT_EQ(quitsIn(file(kLog)), 1) << file(kLog);
    EXPECT_NE(file(kStore).find("batteryUsage"), std::string::npos);
}

// Health as the terminal shows it, and as the JSON (the monitor's own text) keeps it.
TEST_F(ProcessTest, TheTerminalGivesHealthInWattHoursForABatteryThatCountsInEnergy)
{
    const auto health = [this](const char* layout, const QStringList& arguments) {
        environment.insert("DRAINWATCH_POWER_SUPPLY_DIR", QString(DRAINWATCH_TEST_DATA "/power_supply/") + layout);
        ChildProcess run;
        start(run, arguments);
        QString found;
        for (int line = 0; line < 12 && found.isEmpty(); ++line) {
            const QString text = readLine(run);
            if (text.startsWith("Health"))
                found = text;
            else if (text.startsWith('{'))
                found = QJsonDocument::fromJson(text.toUtf8()).object()["healthLabel"].toString();
        }
        ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
        EXPECT_TRUE(run.waitForFinished(kHangMs));
        return found.toStdString();
    };
    EXPECT_EQ(health("b-thinkpad-energy-discharging", {"--terminal"}), "Health  94.8% (45.1Wh of 47.5Wh)");
    EXPECT_EQ(health("b-thinkpad-energy-discharging", {"--json"}), "94.8% (4173mAh of 4400mAh)");
    EXPECT_NE(health("a-acpi-charge-discharging", {"--terminal"}).find("mAh of "), std::string::npos);
}

// The recorded tree of a battery held at its charge limit of 80 % with the
// charger in: said so, in the bar and by --battery-info, which names the
// battery, its status and its units; no battery at all is an error.
TEST_F(ProcessTest, AChargeLimitIsSaidAsOneAndBatteryInfoNamesWhatItRead)
{
    const auto on = [this](const char* layout) {
        environment.insert("DRAINWATCH_POWER_SUPPLY_DIR", QString(DRAINWATCH_TEST_DATA "/power_supply/") + layout);
    };
    on("g-not-charging-threshold");
    ChildProcess bar;
    start(bar, {"--waybar"});
    const QJsonObject line = QJsonDocument::fromJson(readLine(bar).toUtf8()).object();
    ::kill(static_cast<pid_t>(bar.processId()), SIGTERM);
    EXPECT_TRUE(bar.waitForFinished(5000));
    EXPECT_EQ(line["class"].toArray(), QJsonArray({"not-charging"}));
    EXPECT_EQ(line["text"].toString(), "80% (charge limit)");
    EXPECT_TRUE(line["tooltip"].toString().contains("Consumption: held at 80 % (charge limit)"))
        << line["tooltip"].toString().toStdString();

    const std::string info = finish({"--battery-info"});
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(info.starts_with("BAT0: status Not charging, counts energy (µWh), charge limit 80 % (")) << info;
    for (const char* said :
         {"\nExternalConnected: true (the charger is in)\n", "\nIsCharging: false (charge flows into the battery)\n",
          "\nChargeLimit: 80 % (", "\nisCharging: true (the charger is in)\n", "\nCurrentCapacity: 4000 mAh\n"})
        EXPECT_NE(info.find(said), std::string::npos) << said << " in\n" << info;

    on("f-desktop-mains-only");
    EXPECT_NE(finish({"--battery-info"}).find("ExternalConnected: true"), std::string::npos);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(program.readAllStandardError().indexOf("no battery in "), -1);

    // Waybar's text from a template.
    on("b-thinkpad-energy-discharging");
    start(bar, {"--waybar", "--format", "{charge} left"});
    const QJsonObject templated = QJsonDocument::fromJson(readLine(bar).toUtf8()).object();
    ::kill(static_cast<pid_t>(bar.processId()), SIGTERM);
    EXPECT_TRUE(bar.waitForFinished(5000));
    EXPECT_EQ(templated["text"].toString(), "81% left");
    EXPECT_EQ(templated["class"].toArray(), QJsonArray({"discharging"}));
}

// The first run's clocks, the Qt timer's too, moved by libfaketime 200 times
// fast: 40 ticks in a second.
TEST_F(ProcessTest, TheSimulatedBatteryGoesOnFromWhereTheLastRunLeftIt)
{
    const char* faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!QFileInfo::exists(faketime))
        GTEST_SKIP() << "needs libfaketime (Debian package faketime)";
    QProcessEnvironment plain = environment;
    environment.insert("LD_PRELOAD", faketime);
    environment.insert("FAKETIME", "+0 x200");
    start(program, {"--json", "--simulate"});
    double last = 0;
    for (int line = 0; line < 40; ++line)
        last = QJsonDocument::fromJson(readLine(program).toUtf8()).object()["charge"].toDouble();
    endWith(SIGTERM);
    ASSERT_LT(last, SimulatedBattery::kStartCharge - 0.004) << "40 ticks at about 1150 mA";

    environment = plain;
    start(program, {"--json", "--simulate"});
    const double next = QJsonDocument::fromJson(readLine(program).toUtf8()).object()["charge"].toDouble();
    endWith(SIGTERM);
    EXPECT_NEAR(next, last, 0.001);
    const std::string log = file(kLog);
    EXPECT_EQ(log.find("Charge statistics"), std::string::npos) << log;
    EXPECT_EQ(quitsIn(log), 2);
}

// What a status bar runs: Waybar's lines through a JSON parser, a template's
// line, and a template with a typo refused before a log or a store exists.
TEST_F(ProcessTest, StatusBarOutputsCarryOnlyTheirLinesAndABadTemplateStopsBeforeAnythingRuns)
{
    start(program, {"--waybar", "--simulate"});
    const QString line = readLine(program);
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError)
        << "the first line is Waybar's, not the new log's path: " << line.toStdString();
    EXPECT_EQ(object.keys(), QStringList({"class", "percentage", "text", "tooltip"}));
    EXPECT_EQ(object["percentage"].toInt(), 85);
    EXPECT_TRUE(object["text"].toString().startsWith("85% "));
    EXPECT_EQ(object["tooltip"].toString().count('\n'), 8);
    endWith(SIGTERM);

    start(program, {"--simulate", "--format", "{charge} left, health {health}"});
    EXPECT_EQ(readLine(program).toStdString(), "85% left, health 96.2% (5000mAh of 5200mAh)");
    endWith(SIGTERM);

    std::filesystem::remove_all(home.path() / "XDG_STATE_HOME/Logs");
    std::filesystem::remove_all(home.path() / "XDG_CONFIG_HOME/Drainwatch");
    EXPECT_EQ(finish({"--simulate", "--format", "{charge} {remainig}"}), "");
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_NE(program.readAllStandardError().indexOf("unknown placeholder '{remainig}'"), -1);
    EXPECT_FALSE(std::filesystem::exists(home.path() / "XDG_STATE_HOME/Logs"));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "XDG_CONFIG_HOME/Drainwatch"));
}

// Beside a running monitor a bar's drainwatch follows it over its socket,
// and writes the running monitor's figures in its own format.
TEST_F(ProcessTest, StatusBarsBesideARunningMonitorShowItsFiguresInTheirOwnFormat)
{
    start(program, {"--json", "--simulate"});
    ASSERT_TRUE(readLine(program).startsWith('{'));
    ChildProcess waybar, line;
    start(waybar, {"--waybar", "--simulate"});
    start(line, {"--simulate", "--format", "{charge} {watts}"});
    const QJsonObject object = QJsonDocument::fromJson(readLine(waybar).toUtf8()).object();
    EXPECT_EQ(object.keys(), QStringList({"class", "percentage", "text", "tooltip"}));
    EXPECT_EQ(object["class"].toArray(), QJsonArray({"discharging"}));
    EXPECT_EQ(object["percentage"].toInt(), 85);
    EXPECT_TRUE(QRegularExpression("^85% \\d+\\.\\d W$").match(readLine(line)).hasMatch());
    for (ChildProcess* follower : {&waybar, &line}) {
        ::kill(static_cast<pid_t>(follower->processId()), SIGTERM);
        EXPECT_TRUE(follower->waitForFinished(kHangMs));
        EXPECT_NE(follower->readAllStandardError().indexOf("showing the figures of that monitor"), -1);
    }
    endWith(SIGTERM);
}

// DISPLAY or WAYLAND_DISPLAY set, with nothing behind them: the terminal,
// and one line on why, instead of Qt's abort.
TEST_F(ProcessTest, ADisplayThatCannotBeReachedFallsBackToTheTerminalAndSaysWhy)
{
    int free = 150;
    while (std::filesystem::exists(fmt::format("/tmp/.X11-unix/X{}", free)))
        ++free;
    const QString stale = QString::fromStdString(fmt::format(":{}", free));
    // Qt's choice as a desktop session leaves it, not the offscreen one of the tests.
    environment.remove("QT_QPA_PLATFORM");
    const std::vector<std::pair<QString, QString>> cases = {
        {"DISPLAY", stale}, {"DISPLAY", "localhost:" + stale.mid(1) + ".0"}, {"WAYLAND_DISPLAY", "wayland-gone"}};
    for (const auto& [variable, value] : cases) {
        QProcessEnvironment plain = environment;
        environment.insert(variable, value);
        start(program, {"--simulate"});
        bool block = false;
        for (int line = 0; line < 12 && !block; ++line)
            block = readLine(program).startsWith("Charge now  85.0%");
        EXPECT_TRUE(block) << variable.toStdString() << "=" << value.toStdString();
        endWith(SIGTERM);
        const QStringList said = QString::fromUtf8(program.readAllStandardError())
                                     .split('\n', Qt::SkipEmptyParts)
                                     .filter("cannot be reached");
        ASSERT_EQ(said.size(), 1) << variable.toStdString() << "=" << value.toStdString();
        EXPECT_TRUE(said[0].contains(value) && said[0].endsWith("running in the terminal.")) << said[0].toStdString();
        environment = plain;
    }
}

} // namespace
} // namespace drainwatch::test
