#include "app/DisplayProbe.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
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
    DisplayProbe probe{"", "wayland-test", runtime.path().string(), ""};
    ASSERT_TRUE(probe.unreachable());
    EXPECT_NE(probe.unreachable()->find("the Wayland display wayland-test cannot be reached"), std::string::npos);
    const Listener wayland(AF_UNIX);
    ASSERT_TRUE(wayland.listenUnix((runtime.path() / "wayland-test").string(), false));
    EXPECT_EQ(probe.unreachable(), std::nullopt);
    probe.waylandDisplay = (runtime.path() / "wayland-test").string();
    probe.runtimeDir.clear();
    EXPECT_EQ(probe.unreachable(), std::nullopt) << "an absolute name needs no runtime folder";

    // A local X display, in the abstract namespace as Xorg and Xvfb listen;
    // a dead Wayland display beside it does not matter.
    int number = 4700;
    const Listener x(AF_UNIX);
    while (!x.listenUnix(fmt::format("/tmp/.X11-unix/X{}", number), true))
        ASSERT_LT(++number, 4800);
    const DisplayProbe local{fmt::format(":{}.0", number), "wayland-gone", runtime.path().string(), ""};
    EXPECT_EQ(local.unreachable(), std::nullopt);
    EXPECT_TRUE((DisplayProbe{fmt::format(":{}", number + 1000), "", "", ""}.unreachable()));

    // Over TCP, at 6000 plus the display's number.
    const Listener tcp(AF_INET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 6150;
    for (address.sin_port = htons(uint16_t(port)); !tcp.listenOn(reinterpret_cast<sockaddr*>(&address), sizeof address);
         address.sin_port = htons(uint16_t(++port)))
        ASSERT_LT(port, 6300);
    EXPECT_EQ((DisplayProbe{fmt::format("127.0.0.1:{}", port - 6000), "", "", ""}.unreachable()), std::nullopt);
    EXPECT_EQ((DisplayProbe{fmt::format("tcp/127.0.0.1:{}.0", port - 6000), "", "", ""}.unreachable()), std::nullopt);

    for (const char* nonsense : {"garbage", ":", ":x", "host:-1"})
        EXPECT_NE((DisplayProbe{nonsense, "", "", ""}.unreachable()->find("not of the form")), std::string::npos) << nonsense;
}

// Qt goes by QT_QPA_PLATFORM where it is set: a platform without a display
// needs none, and only the displays of the platforms named count.
TEST(DisplayProbeTest, FollowsThePlatformsQtIsToldToTry)
{
    EXPECT_EQ((DisplayProbe{":4999", "", "", "offscreen"}.unreachable()), std::nullopt);
    EXPECT_EQ((DisplayProbe{":4999", "", "", "xcb;vnc"}.unreachable()), std::nullopt);
    EXPECT_TRUE((DisplayProbe{":4999", "", "", "xcb"}.unreachable()));
    TemporaryFolder runtime;
    const Listener wayland(AF_UNIX);
    ASSERT_TRUE(wayland.listenUnix((runtime.path() / "wayland-1").string(), false));
    EXPECT_EQ((DisplayProbe{":4999", "wayland-1", runtime.path().string(), "wayland-egl:foo"}.unreachable()), std::nullopt);
    const auto xOnly = DisplayProbe{":4999", "wayland-1", runtime.path().string(), "xcb"}.unreachable();
    ASSERT_TRUE(xOnly) << "a live Wayland display is no use to Qt told to use X11";
    EXPECT_NE(xOnly->find(":4999"), std::string::npos);
    EXPECT_NE((DisplayProbe{"", "wayland-1", "", "xcb"}.unreachable()->find("no display is set")), std::string::npos);
}

} // namespace
} // namespace drainwatch::test
