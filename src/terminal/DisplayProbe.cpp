// SPDX-License-Identifier: MIT
#include "terminal/DisplayProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <netdb.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

namespace drainwatch {

namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Said to a connected socket; empty when the other end will do.
using Greeting = std::function<std::optional<std::string>(int socket)>;

// Empty on success, else the system's reason.
std::optional<std::string> connectTo(int family, const sockaddr* address, socklen_t length, const Greeting& greet = {})
{
    const int socket = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return std::strerror(errno);
    std::optional<std::string> problem;
    if (::connect(socket, address, length) != 0) {
        if (errno != EINPROGRESS) {
            problem = std::strerror(errno);
        } else {
            // A remote X server behind a dropped route would otherwise hold
            // the start for minutes.
            pollfd wait{socket, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            if (::poll(&wait, 1, 3000) != 1)
                problem = "no answer within 3 s";
            else if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                problem = std::strerror(error ? error : errno);
        }
    }
    if (!problem && greet)
        problem = greet(socket);
    ::close(socket);
    return problem;
}

std::optional<std::string> connectUnix(const std::string& path, bool abstract, const Greeting& greet = {})
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path)
        return "the socket's path is too long";
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return connectTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length, greet);
}

// The MIT-MAGIC-COOKIE-1 that libxcb would send to local display `number`:
// an entry of the Xauthority file for this host (FamilyLocal) or any
// (FamilyWild), for this display or all. Empty: none, and none is sent.
std::string xCookie(const std::string& file, long number)
{
    std::FILE* in = file.empty() ? nullptr : std::fopen(file.c_str(), "rbe");
    if (!in)
        return {};
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const auto field = [in](std::string& text) {
        const int high = std::fgetc(in), low = std::fgetc(in);
        if (high == EOF || low == EOF)
            return false;
        text.resize(static_cast<std::size_t>(high << 8 | low));
        return std::fread(text.data(), 1, text.size(), in) == text.size();
    };
    std::string cookie, address, display, name, data;
    // Each entry: a family (two bytes), then four counted strings.
    for (int high, low; cookie.empty() && (high = std::fgetc(in)) != EOF && (low = std::fgetc(in)) != EOF &&
                        field(address) && field(display) && field(name) && field(data);) {
        const int kind = high << 8 | low;
        if ((kind == 65535 || (kind == 256 && address == host)) &&
            (display.empty() || display == std::to_string(number)) && name == "MIT-MAGIC-COOKIE-1")
            cookie = data;
    }
    std::fclose(in);
    return cookie;
}

// The X11 connection setup, as a client opens it: the server answers
// Success, Failed with its reason (a user it does not let in), or asks to
// Authenticate further.
std::optional<std::string> greetX(int socket, const std::string& cookie)
{
    const auto padded = [](const std::string& text) { return text + std::string((4 - text.size() % 4) % 4, '\0'); };
    const std::string name = cookie.empty() ? "" : "MIT-MAGIC-COOKIE-1";
    std::string request = {'l',
                           0,
                           11,
                           0,
                           0,
                           0,
                           static_cast<char>(name.size()),
                           0,
                           static_cast<char>(cookie.size()),
                           static_cast<char>(cookie.size() >> 8),
                           0,
                           0};
    request += padded(name) + padded(cookie);
    if (::send(socket, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return std::string("the greeting could not be sent: ") + std::strerror(errno);
    std::string reply;
    char buffer[512];
    while (reply.size() < 8 ||
           (reply[0] == 0 && reply.size() < std::size_t{8} + static_cast<unsigned char>(reply[1]))) {
        pollfd wait{socket, POLLIN, 0};
        if (::poll(&wait, 1, 3000) != 1)
            return "no answer to the greeting within 3 s";
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return fmt::format("it closed the connection at the greeting{}",
                               count < 0 ? std::string(": ") + std::strerror(errno) : "");
        reply.append(buffer, static_cast<std::size_t>(count));
        if (reply[0] == 1 || reply[0] == 2)
            break;
    }
    if (reply[0] == 1)
        return std::nullopt;
    if (reply[0] == 2)
        return "it refuses this user: it asks for another authentication";
    std::string reason = reply.substr(8, static_cast<unsigned char>(reply[1]));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\0'))
        reason.pop_back();
    return "it refuses this user: " + (reason.empty() ? std::string("no reason given") : reason);
}

std::optional<std::string> connectTcp(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); error != 0)
        return ::gai_strerror(error);
    std::optional<std::string> problem = "no address";
    for (const addrinfo* at = found; at && problem; at = at->ai_next)
        problem = connectTo(at->ai_family, at->ai_addr, at->ai_addrlen);
    ::freeaddrinfo(found);
    return problem;
}

// DISPLAY is [protocol/][host]:number[.screen], or a socket's path before
// the colon. A local display is the X server's socket, in the abstract
// namespace or in /tmp/.X11-unix, as libxcb tries them.
std::optional<std::string> connectX(std::string display, const std::string& xauthority)
{
    std::string protocol;
    if (const auto slash = display.find('/'); slash != std::string::npos && slash > 0 && display.front() != '/') {
        protocol = display.substr(0, slash);
        display.erase(0, slash + 1);
    }
    const auto colon = display.rfind(':');
    if (colon == std::string::npos)
        return "not of the form host:number";
    const std::string host = display.substr(0, colon);
    if (host.starts_with('/'))
        return connectUnix(host, false);
    char* end = nullptr;
    const long number = std::strtol(display.c_str() + colon + 1, &end, 10);
    if (end == display.c_str() + colon + 1 || number < 0 || number > 59535 || (*end && *end != '.'))
        return "not of the form host:number";
    if (protocol != "tcp" && protocol != "inet" && protocol != "inet6" && (host.empty() || host == "unix")) {
        const std::string path = fmt::format("/tmp/.X11-unix/X{}", number);
        const std::string cookie = xCookie(xauthority, number);
        const Greeting greet = [&cookie](int socket) { return greetX(socket, cookie); };
        // Reached in the abstract namespace, its answer there is the answer.
        if (auto problem = connectUnix(path, true, greet); !problem || problem->starts_with("it "))
            return problem;
        auto problem = connectUnix(path, false, greet);
        if (!problem || host == "unix" || protocol == "unix")
            return problem;
    }
    return connectTcp(host.empty() ? "localhost" : host, 6000 + static_cast<int>(number));
}

std::optional<std::string> connectWayland(const std::string& name, const std::string& runtimeDir)
{
    if (name.starts_with('/'))
        return connectUnix(name, false);
    if (runtimeDir.empty())
        return "XDG_RUNTIME_DIR is not set";
    return connectUnix(runtimeDir + '/' + name, false);
}

} // namespace

DisplayProbe DisplayProbe::fromEnvironment()
{
    std::string xauthority = variable("XAUTHORITY");
    if (xauthority.empty() && !variable("HOME").empty())
        xauthority = variable("HOME") + "/.Xauthority";
    return {variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("XDG_RUNTIME_DIR"), variable("QT_QPA_PLATFORM"),
            xauthority};
}

std::optional<std::string> DisplayProbe::unreachable() const
{
    // Qt tries the platforms of QT_QPA_PLATFORM in turn; without it, the
    // session's own (Wayland or X11).
    bool x = qtPlatform.empty(), wayland = qtPlatform.empty();
    for (std::string_view list = qtPlatform; !list.empty();) {
        const std::size_t end = std::min(list.find(';'), list.size());
        std::string_view name = list.substr(0, end);
        name = name.substr(0, name.find(':'));
        if (name == "xcb")
            x = true;
        else if (name.starts_with("wayland"))
            wayland = true;
        else if (!name.empty())
            return std::nullopt;
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    std::vector<std::string> reasons;
    if (wayland && !waylandDisplay.empty()) {
        const auto problem = connectWayland(waylandDisplay, runtimeDir);
        if (!problem)
            return std::nullopt;
        reasons.push_back(fmt::format("the Wayland display {} cannot be reached ({})", waylandDisplay, *problem));
    }
    if (x && !display.empty()) {
        const auto problem = connectX(display, xauthority);
        if (!problem)
            return std::nullopt;
        if (problem->starts_with("it refuses"))
            reasons.push_back(fmt::format("the X display {} does not let this user in ({})", display,
                                          problem->substr(std::strlen("it refuses this user: "))));
        else
            reasons.push_back(fmt::format("the X display {} cannot be reached ({})", display, *problem));
    }
    if (reasons.empty())
        return "no display is set for the platform in QT_QPA_PLATFORM";
    return reasons.size() == 1 ? reasons[0] : reasons[0] + " and " + reasons[1];
}

} // namespace drainwatch
