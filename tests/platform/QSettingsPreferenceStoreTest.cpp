#include "platform/QSettingsPreferenceStore.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <bit>
#include <csignal>
#include <fstream>
#include <sys/resource.h>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnvironment;
using test::StderrCapture;
using test::TemporaryFolder;

const std::vector<std::pair<std::string, double>> kDoubles = {
    {"lastPercentage", 0.1},
    {"startedCountingAtPercentage", 0.90000000000000002},
    {"usedDuringSleepPercentage", 1266.2534435261703},
    {"batteryUsage.startedAt", 1800003600.5},
    {"batteryUsage.lastHeartBeat", 1800007200.0000002},
    {"acUsage.startedAt", -0.0},
    {"acUsage.lastHeartBeat", 5e-324},
    {"amperageAverage.current", -1234.5678901234567},
};
constexpr std::int64_t kSamples = 9007199254740993; // not a double

class QSettingsPreferenceStoreTest : public ::testing::Test {
protected:
    fs::path folder() const { return home.path() / "Drainwatch"; }
    fs::path file() const { return folder() / "Drainwatch.conf"; }
    void writeFile(const std::string& text) const
    {
        fs::create_directories(folder());
        std::ofstream(file(), std::ios::binary) << text;
    }

    TemporaryFolder home;
    ScopedEnvironment configHome{"XDG_CONFIG_HOME", QByteArray::fromStdString(home.path().string())};
    StderrCapture stderrLines;
};

TEST_F(QSettingsPreferenceStoreTest, EveryKeyOfTheMonitorReadsBackBitForBitFromTheFile)
{
    {
        QSettingsPreferenceStore store;
        EXPECT_EQ(store.path().toStdString(), file().string());
        for (const auto& [key, value] : kDoubles)
            store.setDouble(value, key);
        store.setInteger(kSamples, "amperageAverage.samples");
        store.synchronize();
    }
    const std::string text = test::readFile(file());
    EXPECT_NE(text.find("[General]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\namperageAverage.samples=9007199254740993\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlastPercentage=0.1\n"), std::string::npos) << text;

    // Another home, so what is read comes from the bytes on disk, not from a
    // cache of this process.
    TemporaryFolder otherHome;
    fs::create_directories(otherHome.path() / "Drainwatch");
    fs::copy_file(file(), otherHome.path() / "Drainwatch" / "Drainwatch.conf");
    ScopedEnvironment other("XDG_CONFIG_HOME", QByteArray::fromStdString(otherHome.path().string()));
    QSettingsPreferenceStore reread;
    for (const auto& [key, value] : kDoubles)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(reread.doubleForKey(key)), std::bit_cast<std::uint64_t>(value)) << key;
    EXPECT_EQ(reread.integerForKey("amperageAverage.samples"), kSamples);
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

TEST_F(QSettingsPreferenceStoreTest, NoFileReadsAsZeroAndNothingIsWrittenUntilAValueIsSet)
{
    QSettingsPreferenceStore store;
    EXPECT_EQ(store.doubleForKey("lastPercentage"), 0.0);
    EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 0);
    store.synchronize();
    EXPECT_FALSE(fs::exists(folder()));
    store.setInteger(96, "amperageAverage.samples");
    EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 96);
    EXPECT_EQ(store.doubleForKey("amperageAverage.samples"), 96.0);
    store.synchronize();
    EXPECT_TRUE(fs::exists(file()));
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

TEST_F(QSettingsPreferenceStoreTest, ValuesThatAreNotFiniteNumbersReadAsZeroWithOneMessageEach)
{
    writeFile("[General]\nlastPercentage=garbage\nstartedCountingAtPercentage=nan\n"
              "usedDuringSleepPercentage=-inf\nbatteryUsage.startedAt=1e400\namperageAverage.current=1,5\n"
              "amperageAverage.samples=12x\nacUsage.startedAt=42.75\n");
    QSettingsPreferenceStore store;
    for (int pass = 0; pass < 2; ++pass) {
        for (const char* key : {"lastPercentage", "startedCountingAtPercentage", "usedDuringSleepPercentage",
                                "batteryUsage.startedAt", "amperageAverage.current"})
            EXPECT_EQ(store.doubleForKey(key), 0.0) << key;
        EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 0);
        EXPECT_EQ(store.doubleForKey("acUsage.startedAt"), 42.75);
        EXPECT_EQ(store.integerForKey("acUsage.startedAt"), 42);
    }
    const QStringList lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0].toStdString(), "Drainwatch: " + file().string() +
                                          ": lastPercentage holds \"garbage\", not a number; reading it as 0.");
    EXPECT_TRUE(lines[4].contains("amperageAverage.current holds \"1,5\"")) << lines[4].toStdString();

    // A value set again is good again, and saving keeps the other keys.
    store.setDouble(0.5, "lastPercentage");
    store.synchronize();
    EXPECT_NE(test::readFile(file()).find("\nlastPercentage=0.5\n"), std::string::npos);
    EXPECT_NE(test::readFile(file()).find("\nacUsage.startedAt=42.75\n"), std::string::npos);
}

TEST_F(QSettingsPreferenceStoreTest, AnEmptyOrCorruptFileStartsANewCountAndTheOldBytesAreKept)
{
    using namespace std::string_literals;
    const std::string corrupt = "\xff\xfe[\0G\n[General\nlastPercentage=50"s;
    for (const std::string& content : {std::string(), corrupt}) {
        writeFile(content);
        {
            QSettingsPreferenceStore store;
            EXPECT_EQ(store.doubleForKey("lastPercentage"), 0.0);
            const QStringList lines = stderrLines.lines();
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines[0].startsWith(QString::fromStdString("Drainwatch: " + file().string())));
            EXPECT_TRUE(lines[0].endsWith(QStringLiteral("starting a new count."))) << lines[0].toStdString();
            store.setDouble(12.5, "lastPercentage");
        }
        QSettingsPreferenceStore reread;
        EXPECT_EQ(reread.doubleForKey("lastPercentage"), 12.5);
        EXPECT_EQ(stderrLines.lines(), QStringList());
    }
    EXPECT_EQ(test::readFile(file().string() + ".corrupt"), corrupt);
}

TEST_F(QSettingsPreferenceStoreTest, AFailedSaveIsReportedOnceAndDoneWhenItWorksAgain)
{
    // Ways a save fails that work as root too: a file where the folder
    // should be, and a full disk (a file size limit of 0).
    std::ofstream(folder()) << "not a folder";
    QSettingsPreferenceStore store;
    for (int i = 0; i < 3; ++i) {
        store.setDouble(i, "lastPercentage");
        store.synchronize();
    }
    QStringList lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].toStdString(), "Drainwatch: cannot save to " + file().string() +
                                          " (Not a directory); the count goes on in memory and is saved when this works again.");
    fs::remove(folder());
    store.synchronize();
    EXPECT_NE(test::readFile(file()).find("\nlastPercentage=2\n"), std::string::npos);

    const std::string saved = test::readFile(file());
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit full{0, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
    store.setDouble(3, "lastPercentage");
    store.synchronize();
    store.synchronize();
    setrlimit(RLIMIT_FSIZE, &limit);
    lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("(File too large)"))) << lines[0].toStdString();
    EXPECT_EQ(test::readFile(file()), saved); // the old file, whole
    store.synchronize();
    EXPECT_NE(test::readFile(file()).find("\nlastPercentage=3\n"), std::string::npos);
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

} // namespace
} // namespace drainwatch
