// SIGKILL at random moments while the settings store saves: the file on disk
// is always one whole state, never older than the last finished save, and
// what a kill leaves behind does not pile up.
#include "support/Fakes.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace drainwatch {
namespace {

namespace fs = std::filesystem;

constexpr int kKills = 200;
// A save takes a millisecond or so; a start and a save well under a second.
constexpr int kDeadlineMs = 5000;

// The helper with its standard output on a pipe, in its own XDG folders.
class SaveLoop {
public:
    explicit SaveLoop(const fs::path& configHome, const char* saves = nullptr)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ends[1], STDOUT_FILENO);
            ::close(ends[0]);
            ::close(ends[1]);
            ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
            ::execl(FAULT_SAVE_LOOP, FAULT_SAVE_LOOP, saves, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ends[1]);
        output_ = ends[0];
    }
    ~SaveLoop()
    {
        kill();
        ::close(output_);
    }
    // The next line, "loaded N" or "saved N"; empty when the helper ended or
    // said nothing for kDeadlineMs.
    std::string readLine()
    {
        for (;;) {
            if (const auto end = buffered_.find('\n'); end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            pollfd ready{output_, POLLIN, 0};
            char chunk[256];
            ssize_t count = 0;
            if (::poll(&ready, 1, kDeadlineMs) != 1 || (count = ::read(output_, chunk, sizeof chunk)) <= 0)
                return "";
            buffered_.append(chunk, static_cast<std::size_t>(count));
        }
    }
    void kill() { end(SIGKILL); }
    // The exit status of a helper that ends by itself.
    int wait() { return end(0); }

private:
    int end(int signal)
    {
        if (pid_ <= 0)
            return -1;
        if (signal)
            ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffered_;
};

std::int64_t numberAfter(const std::string& line, const std::string& word)
{
    if (line.rfind(word + " ", 0) != 0) {
        ADD_FAILURE() << "expected '" << word << " N' within " << kDeadlineMs << " ms, got '" << line << "'";
        return -1;
    }
    return std::stoll(line.substr(word.size() + 1));
}

// The generation that all nine keys of the file hold; -1 when they do not
// agree, a key is missing or the file does not parse.
std::int64_t generationOnDisk(const fs::path& file, std::string& why)
{
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        why = "does not parse";
        return -1;
    }
    const QStringList keys = settings.allKeys();
    if (keys.size() != 9) {
        why = "holds " + keys.join(',').toStdString();
        return -1;
    }
    const std::int64_t generation = settings.value("amperageAverage.samples").toString().toLongLong();
    for (const QString& key : keys) {
        bool isNumber = false;
        const double value = settings.value(key).toString().toDouble(&isNumber);
        const double expected = key == "amperageAverage.samples" ? generation : generation + 0.25;
        if (!isNumber || value != expected) {
            why = key.toStdString() + " = " + settings.value(key).toString().toStdString() + " in generation " +
                  std::to_string(generation);
            return -1;
        }
    }
    return generation;
}

std::vector<std::string> leftovers(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != "Drainwatch.conf")
            names.push_back(entry.path().filename().string());
    return names;
}

TEST(KillWhileSaving, TheFileIsAlwaysOneWholeStateAndNothingSavedIsLost)
{
    test::TemporaryFolder home;
    const fs::path folder = home.path() / "Drainwatch";
    const fs::path file = folder / "Drainwatch.conf";
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Mostly during the first saves of a run, where a start and a save meet.
    std::uniform_int_distribution<int> savesBeforeKill(0, 12);

    std::int64_t lastSaved = 0;
    std::size_t mostLeftovers = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SaveLoop loop(home.path());
        const std::string loaded = loop.readLine();
        ASSERT_EQ(numberAfter(loaded, "loaded"), lastSaved) << "kill " << kill << ": the start read an older state";
        for (int saves = savesBeforeKill(random); saves > 0 && !HasFailure(); --saves)
            lastSaved = numberAfter(loop.readLine(), "saved");
        ASSERT_FALSE(HasFailure()) << "kill " << kill;
        loop.kill();
        // What it finished before the kill landed, told before it died.
        for (std::string line; !(line = loop.readLine()).empty();)
            lastSaved = numberAfter(line, "saved");
        if (lastSaved == 0 && !fs::exists(file))
            continue;
        std::string why;
        const std::int64_t onDisk = generationOnDisk(file, why);
        ASSERT_NE(onDisk, -1) << "kill " << kill << ": the file " << why << ":\n" << test::readFile(file);
        ASSERT_GE(onDisk, lastSaved) << "kill " << kill << ": a finished save was lost";
        ASSERT_LE(onDisk, lastSaved + 1) << "kill " << kill;
        // The save in flight may have reached the disk; the next start reads it.
        lastSaved = onDisk;
        mostLeftovers = std::max(mostLeftovers, leftovers(folder).size());
    }
    EXPECT_LE(mostLeftovers, 2u) << "what the kills left behind is cleared at the next start";
}

// A kill between creating QSettings' lock file and writing into it leaves the
// lock empty (so can a power cut); QSaveFile's temporary file stays too.
TEST(KillWhileSaving, WhatAKillLeftBehindNeitherPilesUpNorHoldsUpTheNextSave)
{
    test::TemporaryFolder home;
    const fs::path folder = home.path() / "Drainwatch";
    fs::create_directories(folder);
    for (const char* name : {"Drainwatch.conf.lock", "Drainwatch.conf.Ab3xYz", "Drainwatch.conf.q8LmNo"})
        std::ofstream(folder / name);
    std::ofstream(folder / "Drainwatch.conf.corrupt") << "kept for the user";

    SaveLoop once(home.path(), "1");
    EXPECT_EQ(numberAfter(once.readLine(), "loaded"), 0);
    EXPECT_EQ(numberAfter(once.readLine(), "saved"), 1) << "the first save does not wait for the empty lock to age";
    EXPECT_EQ(once.wait(), 0);
    EXPECT_EQ(leftovers(folder), std::vector<std::string>{"Drainwatch.conf.corrupt"});
}

} // namespace
} // namespace drainwatch
