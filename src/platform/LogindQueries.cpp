// SPDX-License-Identifier: MIT
#include "platform/LogindQueries.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>

namespace drainwatch {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

} // namespace

std::optional<bool> logindFlag(sd_bus* bus, const char* property)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int value = 0;
    const int result = sd_bus_get_property_trivial(bus, kService, kPath, kManager, property, &error, 'b', &value);
    sd_bus_error_free(&error);
    return result < 0 ? std::nullopt : std::optional<bool>(value != 0);
}

std::optional<std::string> logindText(sd_bus* bus, const char* property)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* value = nullptr;
    const int result = sd_bus_get_property_string(bus, kService, kPath, kManager, property, &error, &value);
    sd_bus_error_free(&error);
    std::optional<std::string> text;
    if (result >= 0 && value)
        text = value;
    std::free(value);
    return text;
}

std::optional<std::vector<Inhibitor>> logindInhibitors(sd_bus* bus)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int result = sd_bus_call_method(bus, kService, kPath, kManager, "ListInhibitors", &error, &reply, "");
    if (result >= 0)
        result = sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    std::optional<std::vector<Inhibitor>> locks;
    if (result >= 0) {
        locks.emplace();
        const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
        std::uint32_t uid = 0, pid = 0;
        while ((result = sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid)) > 0)
            locks->push_back(Inhibitor{what, who, why, mode, uid, pid});
        if (result < 0)
            locks.reset();
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return locks;
}

LidHolders logindHolders(sd_bus* bus)
{
    LidHolders holders;
    holders.inhibitors = logindInhibitors(bus);
    holders.handleLidSwitch = logindText(bus, "HandleLidSwitch");
    holders.handleLidSwitchDocked = logindText(bus, "HandleLidSwitchDocked");
    holders.ignoreInhibited = logindFlag(bus, "LidSwitchIgnoreInhibited");
    return holders;
}

LogindAnswers askLogind(const std::filesystem::path& procDir)
{
    LogindAnswers answers;
    answers.lid.closed = ProcLidReader(procDir).closed();
    sd_bus* bus = nullptr;
    // Reads DBUS_SYSTEM_BUS_ADDRESS, as the monitor does.
    if (const int opened = sd_bus_open_system(&bus); opened < 0) {
        answers.failure = std::string("cannot connect to the system bus: ") + std::strerror(-opened);
        return answers;
    }
    answers.holders = logindHolders(bus);
    if (!answers.holders.inhibitors)
        answers.failure = "logind does not answer on the system bus";
    if (!answers.lid.closed)
        answers.lid.closed = logindFlag(bus, "LidClosed");
    answers.lid.docked = logindFlag(bus, "Docked").value_or(false);
    sd_bus_flush_close_unref(bus);
    return answers;
}

} // namespace drainwatch
