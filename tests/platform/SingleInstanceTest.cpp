// SPDX-License-Identifier: MIT
#include "platform/SingleInstance.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>

#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <optional>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The competing process: tries once when told "go", says how it went, and
// holds what it won until it is killed.
int runSingleInstanceChild(const QString& name)
{
    drainwatch::SingleInstance instance(name);
    std::string line;
    std::cout << "ready" << std::endl;
    std::getline(std::cin, line);
    const auto role = instance.tryBecomePrimary();
    std::cout << (role == drainwatch::SingleInstance::Role::Primary     ? "primary"
                  : role == drainwatch::SingleInstance::Role::Secondary ? "secondary"
                                                                        : "failed")
              << std::endl;
    std::getline(std::cin, line);
    return 0;
}

namespace drainwatch {
namespace {

const QString kName = QStringLiteral("Drainwatch-test");

// The answers of competing processes, all told "go" once every one is ready.
QStringList startAtOnce(int count)
{
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (int i = 0; i < count; ++i) {
        children.push_back(std::make_unique<test::ChildProcess>());
        children.back()->start(QCoreApplication::applicationFilePath(), {"--single-instance-child", kName});
        EXPECT_EQ(test::readLine(*children.back()), "ready");
    }
    for (const auto& child : children)
        child->write("go\n");
    for (const auto& child : children)
        child->waitForBytesWritten(test::kHangMs);
    QStringList answers;
    for (const auto& child : children)
        answers << test::readLine(*child);
    return answers; // and all of them crash
}

TEST(SingleInstanceTest, OneOfSimultaneousStartsIsPrimaryDespiteACrashAndALaterStartKnocks)
{
    test::TemporaryFolder runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().c_str());
    SingleInstance first(kName), second(kName), simulated(kName + "-simulated");
    EXPECT_EQ(QFileInfo(first.lockFilePath()).absolutePath().toStdString(), runtime.path().string());

    ASSERT_EQ(startAtOnce(1), QStringList{"primary"});
    ASSERT_TRUE(QFileInfo::exists(first.lockFilePath()) && QFileInfo::exists(first.serverPath()))
        << "left by the crash";
    const QStringList answers = startAtOnce(6);
    EXPECT_TRUE(answers.count("primary") == 1 && answers.count("secondary") == 5) << answers.join(' ').toStdString();

    ASSERT_EQ(first.tryBecomePrimary(), SingleInstance::Role::Primary);
    QSignalSpy activations(&first, &SingleInstance::activationRequested);
    EXPECT_EQ(simulated.tryBecomePrimary(), SingleInstance::Role::Primary) << "another name runs beside it";
    // The answer needs the primary's event loop, so the request runs beside it.
    first.setHasWindow(true);
    ASSERT_EQ(second.tryBecomePrimary(), SingleInstance::Role::Secondary);
    auto answer = std::async(std::launch::async, [&] { return second.requestWindow(); });
    EXPECT_TRUE(activations.wait(test::kHangMs));
    EXPECT_EQ(answer.get(), SingleInstance::WindowAnswer::Shown);
    first.setHasWindow(false);
    SingleInstance third(kName);
    ASSERT_EQ(third.tryBecomePrimary(), SingleInstance::Role::Secondary);
    answer = std::async(std::launch::async, [&] { return third.requestWindow(); });
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(answer.get(), SingleInstance::WindowAnswer::Windowless) << "a terminal monitor has no window to show";
    EXPECT_EQ(activations.count(), 1);
}

// A raw peer of the primary's socket.
int connectTo(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    return fd;
}

// What the peer has been sent, once the primary closed it (none while it is
// open); what came so far is added to *received.
std::optional<std::string> endedWith(int fd, std::string* received = nullptr)
{
    std::string ignored;
    std::string& text = received ? *received : ignored;
    char buffer[4096];
    for (;;) {
        pollfd poll{fd, POLLIN, 0};
        if (::poll(&poll, 1, 0) != 1)
            return std::nullopt;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

// The primary's event loop runs until the condition holds; false after 5 s.
template <typename Condition>
bool runUntil(Condition condition)
{
    const QDeadlineTimer deadline(test::kHangMs);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return condition();
}

TEST(SingleInstanceTest, SilentPeersAreClosedAfterAWhileAndNeverPileUpFollowersGetEveryTick)
{
    test::TemporaryFolder runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().c_str());
    SingleInstance primary(kName);
    ASSERT_EQ(primary.tryBecomePrimary(), SingleInstance::Role::Primary);
    primary.currentLine = [] { return std::string("{\"tick\":1}"); };

    // More silent peers than may wait: the oldest give way at once.
    // Connected beside the event loop: the queue of connections is short.
    auto connecting = std::async(std::launch::async, [&] {
        std::vector<int> peers;
        for (std::size_t i = 0; i < SingleInstance::kMostWaiting + 3; ++i)
            peers.push_back(connectTo(primary.serverPath()));
        return peers;
    });
    ASSERT_TRUE(runUntil([&] { return connecting.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const std::vector<int> silent = connecting.get();
    EXPECT_TRUE(runUntil([&] { return endedWith(silent[2]).has_value(); })) << "the third oldest was closed";
    EXPECT_FALSE(endedWith(silent[3]).has_value()) << "the rest wait their while";

    const int follower = connectTo(primary.serverPath());
    ASSERT_EQ(::write(follower, "follow\n", 7), 7);
    std::string received;
    ASSERT_TRUE(runUntil([&] { return primary.hasFollowers(); }));
    primary.publish("{\"tick\":2}");
    // The while, shortened: a silent peer is closed, the follower is not.
    primary.knockPatience = std::chrono::milliseconds(0);
    const int late = connectTo(primary.serverPath());
    EXPECT_TRUE(runUntil([&] { return endedWith(late).has_value(); }));
    EXPECT_FALSE(endedWith(follower, &received).has_value());
    EXPECT_EQ(received, "{\"tick\":1}\n{\"tick\":2}\n") << "the current line first, then each tick's";
    ::close(follower);
    EXPECT_TRUE(runUntil([&] { return !primary.hasFollowers(); })) << "a follower that leaves is let go";
    for (const int fd : silent)
        ::close(fd);
    ::close(late);
}

TEST(SingleInstanceTest, WithoutARuntimeFolderTheLockIsInAPrivateFolderOfTheHome)
{
    test::TemporaryFolder home;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedHome = qgetenv("HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("HOME", home.path().c_str());
    const QString folder = QString::fromStdString((home.path() / ".cache" / "Drainwatch").string());
    {
        SingleInstance instance(kName);
        EXPECT_EQ(QFileInfo(instance.lockFilePath()).absolutePath(), folder);
        EXPECT_EQ(instance.tryBecomePrimary(), SingleInstance::Role::Primary);
        EXPECT_EQ(std::filesystem::status(folder.toStdString()).permissions(), std::filesystem::perms::owner_all);
    }
    // Open to others, it is not used: the lock there proves nothing.
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    test::StderrCapture errors;
    EXPECT_EQ(SingleInstance(kName).tryBecomePrimary(), SingleInstance::Role::Failed);
    EXPECT_TRUE(errors.lines().join('\n').contains(folder + " is not a folder of this user's alone"));
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("HOME", savedHome);
}

} // namespace
} // namespace drainwatch
