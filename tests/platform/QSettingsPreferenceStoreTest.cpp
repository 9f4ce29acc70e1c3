// SPDX-License-Identifier: MIT
#include "platform/QSettingsPreferenceStore.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <bit>
#include <csignal>
#include <fstream>
#include <map>
#include <sys/resource.h>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class QSettingsPreferenceStoreTest : public ::testing::Test {
protected:
    QSettingsPreferenceStoreTest() { qputenv("XDG_CONFIG_HOME", home.path().c_str()); }
    void write(const std::string& text) const
    {
        fs::create_directories(file().parent_path());
        std::ofstream(file(), std::ios::binary) << text;
    }
    fs::path file() const { return home.path() / "Drainwatch" / "Drainwatch.conf"; }
    std::string saved() const { return test::readFile(file()); }
    bool savedHas(const std::string& line) const { return saved().find("\n" + line + "\n") != std::string::npos; }

    test::TemporaryFolder home;
    test::StderrCapture stderrLines;
};

TEST_F(QSettingsPreferenceStoreTest, ValuesReadBackBitForBitFromTheFile)
{
    const std::map<std::string, double> doubles = {{"lastPercentage", 0.1},
                                                   {"acUsage.startedAt", -0.0},
                                                   {"batteryUsage.lastHeartBeat", 1800007200.0000002},
                                                   {"a", 5e-324},
                                                   {"b", -1234.5678901234567}};
    constexpr std::int64_t kSamples = 9007199254740993; // not a double
    {
        QSettingsPreferenceStore store;
        for (const auto& [key, value] : doubles)
            store.setDouble(value, key);
        store.setInteger(kSamples, "amperageAverage.samples");
    }
    // Another home, so that what is read comes from the bytes on disk.
    test::TemporaryFolder otherHome;
    fs::copy(home.path() / "Drainwatch", otherHome.path() / "Drainwatch");
    qputenv("XDG_CONFIG_HOME", otherHome.path().c_str());
    const QSettingsPreferenceStore reread;
    for (const auto& [key, value] : doubles)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(reread.doubleForKey(key)), std::bit_cast<std::uint64_t>(value)) << key;
    EXPECT_EQ(reread.integerForKey("amperageAverage.samples"), kSamples);
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

TEST_F(QSettingsPreferenceStoreTest, ValuesThatAreNotFiniteNumbersReadAsZeroWithOneMessageEach)
{
    write("[General]\na=garbage\nb=nan\nc=-inf\nd=1e400\ne=1,5\nsamples=12x\nf=42.75\n");
    QSettingsPreferenceStore store;
    for (const char* key : {"a", "b", "c", "d", "e", "a"})
        EXPECT_EQ(store.doubleForKey(key), 0.0) << key;
    EXPECT_EQ(store.integerForKey("samples"), 0);
    EXPECT_EQ(store.doubleForKey("f"), 42.75);
    EXPECT_EQ(store.integerForKey("f"), 42);
    const QStringList lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString(); // one for each key
    EXPECT_EQ(lines[0].toStdString(),
              "Drainwatch: " + file().string() + ": a holds \"garbage\", not a number; reading it as 0.");

    // A value set again is good again, and saving keeps the other keys.
    store.setDouble(0.5, "a");
    store.synchronize();
    EXPECT_TRUE(savedHas("a=0.5") && savedHas("f=42.75")) << saved();
}

TEST_F(QSettingsPreferenceStoreTest, AnEmptyOrCorruptFileStartsANewCountAndTheOldBytesAreKept)
{
    const std::string corrupt = "\xff\xfe[\0G\n[General\nlastPercentage=50"s;
    for (const std::string& content : {std::string(), corrupt}) {
        write(content);
        QSettingsPreferenceStore().setDouble(12.5, "lastPercentage"); // saved as it goes
        const QStringList lines = stderrLines.lines();
        EXPECT_TRUE(lines.size() == 1 &&
                    lines[0].startsWith(QString::fromStdString("Drainwatch: " + file().string())) &&
                    lines[0].endsWith("starting a new count."))
            << lines.join('\n').toStdString();
        EXPECT_EQ(QSettingsPreferenceStore().doubleForKey("lastPercentage"), 12.5);
    }
    EXPECT_EQ(test::readFile(file().string() + ".corrupt"), corrupt);
}

// QSettings would read the @Variant through QDataStream and try to allocate
// 52 GB for it.
TEST_F(QSettingsPreferenceStoreTest, AVariantLineIsDamageThatCannotExhaustMemoryAndTheOtherValuesAreKept)
{
    const std::string damaged = "[General]\nf=42.75\nlastPercentage=@Variant(\\0\\0\\0\\tartedCounti" +
                                std::string(14, '\x18') + "ngAtPergentaerage.curx87?\\x80\\0\\0)\n";
    write(damaged);
    QSettingsPreferenceStore store;
    EXPECT_EQ(store.doubleForKey("f"), 42.75);
    EXPECT_EQ(store.doubleForKey("lastPercentage"), 0.0);
    const QStringList lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("is damaged (1 of its entries are not settings)")) << lines[0].toStdString();
    EXPECT_EQ(test::readFile(file().string() + ".corrupt"), damaged);
    store.synchronize();
    EXPECT_TRUE(savedHas("f=42.75") && saved().find('@') == std::string::npos) << saved();
}

// A full disk, as a file size limit of 0 (which root meets too).
TEST_F(QSettingsPreferenceStoreTest, AFailedSaveIsReportedOnceLeavesTheFileWholeAndIsDoneWhenItWorksAgain)
{
    QSettingsPreferenceStore store;
    store.setDouble(2, "lastPercentage");
    store.synchronize();
    const std::string before = saved();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{}, full{};
    getrlimit(RLIMIT_FSIZE, &limit);
    full.rlim_max = limit.rlim_max;
    setrlimit(RLIMIT_FSIZE, &full);
    for (int i = 3; i < 6; ++i) {
        store.setDouble(i, "lastPercentage");
        store.synchronize();
    }
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(stderrLines.lines(),
              QStringList{QString::fromStdString(
                  "Drainwatch: cannot save to " + file().string() +
                  " (File too large); the count goes on in memory and is saved when this works again.")});
    EXPECT_EQ(saved(), before);
    store.synchronize();
    EXPECT_TRUE(savedHas("lastPercentage=5")) << saved();
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

} // namespace
} // namespace drainwatch
