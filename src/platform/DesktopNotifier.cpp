// SPDX-License-Identifier: MIT
#include "platform/DesktopNotifier.h"

#include <systemd/sd-bus.h>

namespace drainwatch {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kIcon = "io.github.drainwatch.Drainwatch";
// The server's own default time on screen.
constexpr int kServerTimeout = -1;

} // namespace

bool DesktopNotifier::notify(const std::string& summary, const std::string& body)
{
    // A connection of its own, opened for the message: a notification comes
    // after a few sleeps at most, and an idle connection would only hold
    // memory and a descriptor.
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return false;
    sd_bus_message* message = nullptr;
    int result = sd_bus_message_new_method_call(bus, &message, kService, kPath, kService, "Notify");
    if (result >= 0)
        result = sd_bus_message_append(message, "susssasa{sv}i", "Drainwatch", 0u, kIcon, summary.c_str(), body.c_str(),
                                       0, 0, kServerTimeout);
    if (result >= 0)
        result = sd_bus_message_set_expect_reply(message, 0);
    if (result >= 0)
        result = sd_bus_send(bus, message, nullptr);
    if (result >= 0)
        result = sd_bus_flush(bus);
    sd_bus_message_unref(message);
    sd_bus_flush_close_unref(bus);
    return result >= 0;
}

} // namespace drainwatch
