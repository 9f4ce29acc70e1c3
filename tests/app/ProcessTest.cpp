// The built program as a user starts it, in temporary XDG folders, with no
// display and no session bus. Each wait has a deadline of a few seconds.
#include "support/Fakes.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace drainwatch::test {
namespace {

class ProcessTest : public ::testing::Test {
protected:
    ProcessTest()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            environment.remove(variable);
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            const auto folder = home.path() / variable;
            std::filesystem::create_directories(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
            environment.insert(variable, QString::fromStdString(folder.string()));
        }
        process.setProcessEnvironment(environment);
    }
    ~ProcessTest() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    void start(const QStringList& arguments)
    {
        process.start(DRAINWATCH_BINARY, arguments);
        ASSERT_TRUE(process.waitForStarted(3000));
    }
    // The first `count` lines of standard output, or what came within 5 s.
    std::vector<std::string> readLines(std::size_t count)
    {
        std::vector<std::string> lines;
        const QDeadlineTimer deadline(5000);
        while (lines.size() < count && !deadline.hasExpired()) {
            if (!process.canReadLine() && !process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                break;
            while (lines.size() < count && process.canReadLine())
                lines.push_back(process.readLine().trimmed().toStdString());
        }
        return lines;
    }
    void endWith(int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000)) << "no orderly end after signal " << signal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
    std::string file(const char* variable, const char* name) const
    {
        return readFile(home.path() / variable / (std::string(variable) == "XDG_STATE_HOME" ? "Logs" : "") /
                        "Drainwatch" / name);
    }

    TemporaryFolder home;
    QProcess process;
};

TEST_F(ProcessTest, JsonRunOnTheSimulatedBatteryEndsInOrderOnSigterm)
{
    start({"--json", "--simulate"});
    const auto lines = readLines(1);
    ASSERT_EQ(lines.size(), 1u) << process.readAllStandardError().toStdString();
    const QJsonObject first = QJsonDocument::fromJson(QByteArray::fromStdString(lines[0])).object();
    EXPECT_EQ(first.size(), 14) << lines[0];
    EXPECT_NEAR(first["charge"].toDouble(), 0.85, 0.01);
    EXPECT_EQ(first["currentChargeLabel"].toString().right(1), "%");

    endWith(SIGTERM);
    EXPECT_NE(file("XDG_STATE_HOME", "Drainwatch-simulated.log").find("Quitting app"), std::string::npos);
    EXPECT_NE(file("XDG_CONFIG_HOME", "Drainwatch-simulated.conf").find("lastPercentage"), std::string::npos);
    EXPECT_EQ(file("XDG_CONFIG_HOME", "Drainwatch.conf"), "") << "the real store is not touched";
    EXPECT_EQ(file("XDG_STATE_HOME", "Drainwatch.log"), "") << "nor the real log";
}

TEST_F(ProcessTest, WithoutADisplayItRunsInTheTerminalAndSaysSo)
{
    start({"--simulate"});
    // A first run says first where its new log is.
    const auto lines = readLines(10);
    ASSERT_EQ(lines.size(), 10u) << process.readAllStandardError().toStdString();
    EXPECT_EQ(lines[0].rfind("file://", 0), 0u) << lines[0];
    EXPECT_EQ(lines[6].rfind("Charge now  85.0%", 0), 0u) << lines[6];
    endWith(SIGINT);
    EXPECT_NE(process.readAllStandardError().indexOf("no display"), -1);
    EXPECT_NE(file("XDG_STATE_HOME", "Drainwatch-simulated.log").find("Quitting app"), std::string::npos);
}

// With a display the command hands over to the window program; Qt's
// offscreen platform stands in for the display.
TEST_F(ProcessTest, WindowProgramRunsOnceAndSigtermQuitsLikeTheQuitCommand)
{
    QProcessEnvironment environment = process.processEnvironment();
    environment.insert("DISPLAY", ":99");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    start({"--simulate"});
    const QDeadlineTimer deadline(5000);
    while (file("XDG_STATE_HOME", "Drainwatch-simulated.log").find("Started app") == std::string::npos &&
           !deadline.hasExpired())
        ASSERT_FALSE(process.waitForFinished(50)) << process.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(DRAINWATCH_BINARY, {"--simulate"});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_NE(second.readAllStandardError().indexOf("already running"), -1);

    endWith(SIGTERM);
    const std::string log = file("XDG_STATE_HOME", "Drainwatch-simulated.log");
    EXPECT_EQ(log.find("Quitting app"), log.rfind("Quitting app")) << log;
    EXPECT_NE(log.find("Quitting app"), std::string::npos) << log;
    EXPECT_NE(file("XDG_CONFIG_HOME", "Drainwatch-simulated.conf").find("batteryUsage"), std::string::npos);
}

TEST_F(ProcessTest, UnknownOptionIsRefusedWithStatusTwo)
{
    start({"--frobnicate"});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_NE(process.readAllStandardError().indexOf("--frobnicate"), -1);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

} // namespace
} // namespace drainwatch::test
