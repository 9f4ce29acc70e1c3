// SPDX-License-Identifier: MIT
#include "terminal/DisplayProbe.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

namespace drainwatch::test {
namespace {

// A listening socket for as long as the test holds it; nothing is accepted,
// as the probe only connects.
struct Listener {
    explicit Listener(int family) : socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Listener() { ::close(socket); }
    bool listenOn(const sockaddr* address, socklen_t length) const
    {
        return ::bind(socket, address, length) == 0 && ::listen(socket, 4) == 0;
    }
    bool listenUnix(const std::string& path, bool abstract) const
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
        return listenOn(reinterpret_cast<const sockaddr*>(&address),
                        socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1));
    }
    int socket;
};

TEST(DisplayProbeTest, AnswersForADisplayThatListensAndSaysWhyForOneThatDoesNot)
{
    TemporaryFolder runtime;
    DisplayProbe probe{"", "wayland-test", runtime.path().string(), "", ""};
    ASSERT_TRUE(probe.unreachable());
    EXPECT_NE(probe.unreachable()->find("the Wayland display wayland-test cannot be reached"), std::string::npos);
    const Listener wayland(AF_UNIX);
    ASSERT_TRUE(wayland.listenUnix((runtime.path() / "wayland-test").string(), false));
    EXPECT_EQ(probe.unreachable(), std::nullopt);
    probe.waylandDisplay = (runtime.path() / "wayland-test").string();
    probe.runtimeDir.clear();
    EXPECT_EQ(probe.unreachable(), std::nullopt) << "an absolute name needs no runtime folder";

    // A local X display that is not there.
    EXPECT_TRUE((DisplayProbe{":5799", "", "", "", ""}.unreachable()));

    // Over TCP, at 6000 plus the display's number.
    const Listener tcp(AF_INET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 6150;
    for (address.sin_port = htons(uint16_t(port)); !tcp.listenOn(reinterpret_cast<sockaddr*>(&address), sizeof address);
         address.sin_port = htons(uint16_t(++port)))
        ASSERT_LT(port, 6300);
    EXPECT_EQ((DisplayProbe{fmt::format("127.0.0.1:{}", port - 6000), "", "", "", ""}.unreachable()), std::nullopt);
    EXPECT_EQ((DisplayProbe{fmt::format("tcp/127.0.0.1:{}.0", port - 6000), "", "", "", ""}.unreachable()),
              std::nullopt);

    for (const char* nonsense : {"garbage", ":", ":x", "host:-1"})
        EXPECT_NE((DisplayProbe{nonsense, "", "", "", ""}.unreachable()->find("not of the form")), std::string::npos)
            << nonsense;
}

// Qt goes by QT_QPA_PLATFORM where it is set: a platform without a display
// needs none, and only the displays of the platforms named count.
TEST(DisplayProbeTest, FollowsThePlatformsQtIsToldToTry)
{
    EXPECT_EQ((DisplayProbe{":4999", "", "", "offscreen", ""}.unreachable()), std::nullopt);
    EXPECT_EQ((DisplayProbe{":4999", "", "", "xcb;vnc", ""}.unreachable()), std::nullopt);
    EXPECT_TRUE((DisplayProbe{":4999", "", "", "xcb", ""}.unreachable()));
    TemporaryFolder runtime;
    const Listener wayland(AF_UNIX);
    ASSERT_TRUE(wayland.listenUnix((runtime.path() / "wayland-1").string(), false));
    EXPECT_EQ((DisplayProbe{":4999", "wayland-1", runtime.path().string(), "wayland-egl:foo", ""}.unreachable()),
              std::nullopt);
    const auto xOnly = DisplayProbe{":4999", "wayland-1", runtime.path().string(), "xcb", ""}.unreachable();
    ASSERT_TRUE(xOnly) << "a live Wayland display is no use to Qt told to use X11";
    EXPECT_NE(xOnly->find(":4999"), std::string::npos);
    EXPECT_NE((DisplayProbe{"", "wayland-1", "", "xcb", ""}.unreachable()->find("no display is set")),
              std::string::npos);
}

// One entry of an Xauthority file, for any host and display.
std::string authorityEntry(const std::string& cookie)
{
    const auto field = [](const std::string& text) {
        return std::string{char(text.size() >> 8), char(text.size())} + text;
    };
    return std::string{char(0xff), char(0xff)} + field("") + field("") + field("MIT-MAGIC-COOKIE-1") + field(cookie);
}

// Xvfb with an authority file, as a display manager starts X: the user
// with the cookie is let in; one without it, or with another, is refused,
// though the display takes the connection, and the reason says so. No
// reset: the server would otherwise start over as each probe leaves.
TEST(DisplayProbeTest, ALocalXDisplayThatRefusesTheUserIsNoDisplay)
{
    TemporaryFolder folder;
    const std::string cookie = "0123456789abcdef";
    const auto write = [&](const std::string& name, const std::string& text) {
        std::string path = (folder.path() / name).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr) << path;
        if (file) {
            EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
            EXPECT_EQ(std::fclose(file), 0);
        }
        return path;
    };
    const std::string server = write("server", authorityEntry(cookie));
    const std::string mine = write("mine", authorityEntry(cookie));
    const std::string other = write("other", authorityEntry("fedcba9876543210"));

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t xvfb = ::fork();
    ASSERT_GE(xvfb, 0);
    if (xvfb == 0) {
        ::close(ready[0]);
        const std::string fd = std::to_string(ready[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-auth", server.c_str(), "-nolisten", "tcp", "-noreset",
                 nullptr);
        ::_exit(127);
    }
    ::close(ready[1]);
    std::string number;
    char c;
    while (::read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(ready[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const std::string display = ":" + number;

    EXPECT_EQ((DisplayProbe{display, "", "", "", mine}.unreachable()), std::nullopt);
    for (const std::string& authority : {other, std::string()}) {
        const auto why = DisplayProbe{display, "", "", "", authority}.unreachable();
        ASSERT_TRUE(why) << authority;
        EXPECT_NE(why->find("the X display " + display + " does not let this user in ("), std::string::npos) << *why;
    }
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
}

} // namespace
} // namespace drainwatch::test
