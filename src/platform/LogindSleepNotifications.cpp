// SPDX-License-Identifier: MIT
#include "platform/LogindSleepNotifications.h"

#include "platform/Diagnostic.h"
#include "platform/LogindQueries.h"

#include <QSocketNotifier>
#include <QTimer>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace drainwatch {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kBus = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kLidClosed = "LidClosed";
// Longer than polkit needs to decide, shorter than a user waits for a window.
constexpr std::uint64_t kCallTimeoutUs = 5'000'000;

void reportNoLogind(const QString& reason)
{
    printDiagnostic(QStringLiteral("no logind on the system bus (%1); sleep is detected from gaps between ticks only.")
                        .arg(reason));
}

// The bus's own words for a failed call: its message, else its name, else
// those of the error number.
QString describe(const sd_bus_error& error, int result)
{
    if (error.message && *error.message)
        return QString::fromUtf8(error.message);
    if (error.name && *error.name)
        return QString::fromUtf8(error.name);
    return QString::fromLocal8Bit(std::strerror(-result));
}

// A method call whose reply is freed, and its error cleared, at the end of the scope.
struct Call {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int result = 0;

    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call()
    {
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
    QString failure() const { return describe(error, result); }
};

// Whether a name is owned on the bus or the bus can start its owner; a
// failed call is a failure of the connection.
bool serviceThere(sd_bus* bus, const char* name, QString& failure)
{
    Call owned;
    int hasOwner = 0;
    owned.result = sd_bus_call_method(bus, kBus, kBusPath, kBus, "NameHasOwner", &owned.error, &owned.reply, "s", name);
    if (owned.result >= 0)
        owned.result = sd_bus_message_read(owned.reply, "b", &hasOwner);
    if (owned.result < 0) {
        failure = owned.failure();
        return false;
    }
    if (hasOwner)
        return true;
    Call activatable;
    activatable.result = sd_bus_call_method(bus, kBus, kBusPath, kBus, "ListActivatableNames", &activatable.error,
                                            &activatable.reply, "");
    if (activatable.result >= 0)
        activatable.result = sd_bus_message_enter_container(activatable.reply, 'a', "s");
    if (activatable.result < 0) {
        failure = activatable.failure();
        return false;
    }
    for (const char* listed = nullptr; sd_bus_message_read(activatable.reply, "s", &listed) > 0;)
        if (std::strcmp(listed, name) == 0)
            return true;
    return false;
}

// Only notes the PrepareForSleep in the optional it is given: the handlers
// make calls of their own, which are better made outside sd_bus_process.
int notePrepareForSleep(sd_bus_message* message, void* received, sd_bus_error*)
{
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) > 0)
        *static_cast<std::optional<bool>*>(received) = start != 0;
    return 0;
}

// logind emits LidClosed's changes; the cache follows them and forgets the
// value when it is invalidated or the signal cannot be read, to ask again.
int notePropertiesChanged(sd_bus_message* message, void* cached, sd_bus_error*)
{
    auto& lidClosed = *static_cast<std::optional<bool>*>(cached);
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) <= 0 || std::strcmp(interface, kManager) != 0)
        return 0;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) {
        lidClosed.reset();
        return 0;
    }
    int entered = 0;
    while ((entered = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) <= 0) {
            lidClosed.reset();
            return 0;
        }
        if (std::strcmp(name, kLidClosed) == 0) {
            int closed = 0;
            if (sd_bus_message_read(message, "v", "b", &closed) > 0)
                lidClosed = closed != 0;
            else
                lidClosed.reset();
            return 0;
        }
        if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) {
            lidClosed.reset();
            return 0;
        }
    }
    if (entered < 0 || sd_bus_message_exit_container(message) < 0 ||
        sd_bus_message_enter_container(message, 'a', "s") <= 0) {
        lidClosed.reset();
        return 0;
    }
    for (const char* invalidated = nullptr; sd_bus_message_read(message, "s", &invalidated) > 0;)
        if (std::strcmp(invalidated, kLidClosed) == 0)
            lidClosed.reset();
    return 0;
}

std::uint64_t monotonicMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

} // namespace

LogindSleepNotifications::LogindSleepNotifications(QObject* parent) : QObject(parent) {}

LogindSleepNotifications::~LogindSleepNotifications() { disconnectFromBus(); }

bool LogindSleepNotifications::connectToSystemBus()
{
    if (bus_)
        return true;
    // Reads DBUS_SYSTEM_BUS_ADDRESS now, at every call.
    sd_bus* bus = nullptr;
    const int opened = sd_bus_open_system(&bus);
    QString reason;
    if (opened < 0) {
        reason = QStringLiteral("cannot connect: %1").arg(QString::fromLocal8Bit(std::strerror(-opened)));
    } else {
        sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
        QString failure;
        if (!serviceThere(bus, kService, failure)) {
            reason = failure.isEmpty() ? QStringLiteral("%1 is not there").arg(QString::fromLatin1(kService))
                                       : QStringLiteral("cannot connect: %1").arg(failure);
        } else if (const int matched = sd_bus_match_signal(bus, &match_, kService, kPath, kManager, "PrepareForSleep",
                                                           notePrepareForSleep, &received_);
                   matched < 0) {
            reason = QString::fromLocal8Bit(std::strerror(-matched));
        }
    }
    if (!reason.isEmpty()) {
        match_ = sd_bus_slot_unref(match_);
        sd_bus_flush_close_unref(bus);
        reportNoLogind(reason);
        return false;
    }
    // Without the match LidClosed is asked at every read, as before it.
    if (sd_bus_match_signal(bus, &lidMatch_, kService, kPath, kProperties, "PropertiesChanged", notePropertiesChanged,
                            &lidClosed_) < 0)
        lidMatch_ = nullptr;
    bus_ = bus;
    const int fd = sd_bus_get_fd(bus_);
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &LogindSleepNotifications::process);
    writable_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writable_->setEnabled(false);
    connect(writable_, &QSocketNotifier::activated, this, &LogindSleepNotifications::process);
    deadline_ = new QTimer(this);
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, &LogindSleepNotifications::process);
    takeLock();
    // The calls so far may have read messages that the socket will not
    // announce again: the timer then fires at once.
    watch();
    return true;
}

void LogindSleepNotifications::subscribe(std::function<void()> willSleep, std::function<void()> didWake)
{
    willSleep_ = std::move(willSleep);
    didWake_ = std::move(didWake);
}

void LogindSleepNotifications::process()
{
    while (bus_) {
        // One message at a time; 0 once nothing is left to do.
        const int result = sd_bus_process(bus_, nullptr);
        if (result < 0) {
            // The bus went away, and logind's word with it.
            disconnectFromBus();
            return;
        }
        if (const auto start = std::exchange(received_, std::nullopt))
            onPrepareForSleep(*start);
        if (result == 0) {
            watch();
            return;
        }
    }
}

void LogindSleepNotifications::watch()
{
    if (!bus_)
        return;
    const int events = sd_bus_get_events(bus_);
    writable_->setEnabled(events > 0 && (events & POLLOUT) != 0);
    std::uint64_t until = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) {
        deadline_->stop();
        return;
    }
    const std::uint64_t now = monotonicMicroseconds();
    const std::uint64_t milliseconds = until <= now ? 0 : (until - now + 999) / 1000;
    deadline_->start(static_cast<int>(std::min<std::uint64_t>(milliseconds, INT_MAX)));
}

void LogindSleepNotifications::disconnectFromBus()
{
    if (!bus_)
        return;
    // A delay lock that nothing would release would hold up every suspend.
    releaseLock();
    // Possibly called from their own signal: disabled now, deleted later.
    for (QSocketNotifier* notifier : {readable_, writable_}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    deadline_->stop();
    deadline_->deleteLater();
    readable_ = writable_ = nullptr;
    deadline_ = nullptr;
    match_ = sd_bus_slot_unref(match_);
    lidMatch_ = sd_bus_slot_unref(lidMatch_);
    bus_ = sd_bus_flush_close_unref(bus_);
    received_.reset();
    lidClosed_.reset();
}

void LogindSleepNotifications::onPrepareForSleep(bool start)
{
    if (start) {
        if (willSleep_)
            willSleep_();
        releaseLock();
    } else {
        takeLock();
        if (didWake_)
            didWake_();
    }
}

std::optional<bool> LogindSleepNotifications::managerFlag(const char* property)
{
    if (!bus_)
        return std::nullopt;
    const auto value = logindFlag(bus_, property);
    // A call may have read a PrepareForSleep that the socket will not announce again.
    watch();
    return value;
}

std::optional<bool> LogindSleepNotifications::lidClosed()
{
    if (!bus_)
        return std::nullopt;
    if (lidClosed_ && lidMatch_)
        return lidClosed_;
    lidClosed_ = managerFlag(kLidClosed);
    return lidClosed_;
}

std::optional<std::string> LogindSleepNotifications::managerText(const char* property)
{
    if (!bus_)
        return std::nullopt;
    auto value = logindText(bus_, property);
    watch();
    return value;
}

std::optional<std::vector<Inhibitor>> LogindSleepNotifications::inhibitors()
{
    if (!bus_)
        return std::nullopt;
    auto locks = logindInhibitors(bus_);
    watch();
    return locks;
}

std::string LogindSleepNotifications::suspend()
{
    if (!bus_)
        return "no logind on the system bus";
    std::string refusal;
    {
        Call call;
        call.result = sd_bus_call_method(bus_, kService, kPath, kManager, "Suspend", &call.error, &call.reply, "b", 0);
        if (call.result < 0)
            refusal = call.failure().toStdString();
    }
    watch();
    return refusal;
}

void LogindSleepNotifications::takeLock()
{
    if (!bus_ || holdsInhibitor())
        return;
    Call inhibit;
    inhibit.result =
        sd_bus_call_method(bus_, kService, kPath, kManager, "Inhibit", &inhibit.error, &inhibit.reply, "ssss", "sleep",
                           "Drainwatch", "Saves the battery count before the machine sleeps", "delay");
    QString refusal;
    if (inhibit.result < 0) {
        refusal = inhibit.failure();
    } else {
        int descriptor = -1;
        // Our own copy: the reply's closes with the reply.
        if (sd_bus_message_read(inhibit.reply, "h", &descriptor) > 0 && descriptor >= 0)
            lockFd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
        if (lockFd_ < 0)
            refusal = QStringLiteral("no lock in the answer");
    }
    if (refusal.isEmpty() || lockRefusalReported_)
        return;
    // Polkit may refuse; the count is then saved only if there is time.
    lockRefusalReported_ = true;
    printDiagnostic(
        QStringLiteral("logind gives no sleep delay lock (%1); the count may not be saved just before a sleep.")
            .arg(refusal));
}

void LogindSleepNotifications::releaseLock()
{
    if (lockFd_ < 0)
        return;
    ::close(lockFd_);
    lockFd_ = -1;
}

} // namespace drainwatch
