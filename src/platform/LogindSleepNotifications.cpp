#include "platform/LogindSleepNotifications.h"

#include "platform/Diagnostic.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSignal = QStringLiteral("PrepareForSleep");
// Longer than polkit needs to decide, shorter than a user waits for a window.
constexpr int kCallTimeoutMs = 5000;

QString uniqueConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("drainwatch-logind-%1").arg(next++);
}

void reportNoLogind(const QString& reason)
{
    printDiagnostic(QStringLiteral("no logind on the system bus (%1); sleep is detected from gaps between ticks only.").arg(reason));
}

} // namespace

LogindSleepNotifications::LogindSleepNotifications(QObject* parent)
    : QObject(parent), connectionName_(uniqueConnectionName())
{
}

LogindSleepNotifications::~LogindSleepNotifications()
{
    releaseLock();
    if (bus_) {
        bus_->disconnect(kService, kPath, kManager, kSignal, this, SLOT(onPrepareForSleep(bool)));
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

bool LogindSleepNotifications::connectToSystemBus()
{
    if (bus_)
        return true;
    // A connection of our own, not the process-wide systemBus(): it reads
    // DBUS_SYSTEM_BUS_ADDRESS now, where libdbus reads it once per process.
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty()
        ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_)
        : QDBusConnection::connectToBus(address, connectionName_);
    QString reason;
    if (!bus.isConnected()) {
        reason = bus.lastError().message();
        if (reason.isEmpty())
            reason = QStringLiteral("cannot connect");
    } else if (!bus.interface()->isServiceRegistered(kService)
               && !bus.interface()->activatableServiceNames().value().contains(kService)) {
        reason = QStringLiteral("%1 is not there").arg(kService);
    } else if (!bus.connect(kService, kPath, kManager, kSignal, this, SLOT(onPrepareForSleep(bool)))) {
        reason = bus.lastError().message();
    }
    if (!reason.isEmpty()) {
        QDBusConnection::disconnectFromBus(connectionName_);
        reportNoLogind(reason);
        return false;
    }
    bus_ = bus;
    takeLock();
    return true;
}

void LogindSleepNotifications::subscribe(std::function<void()> willSleep, std::function<void()> didWake)
{
    willSleep_ = std::move(willSleep);
    didWake_ = std::move(didWake);
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

void LogindSleepNotifications::takeLock()
{
    if (!bus_ || holdsInhibitor())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Drainwatch")
         << QStringLiteral("Saves the battery count before the machine sleeps") << QStringLiteral("delay");
    const QDBusMessage reply = bus_->call(call, QDBus::Block, kCallTimeoutMs);
    QString refusal;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        refusal = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    } else {
        const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
        // Our own copy: the lock ends when it is closed, whatever Qt keeps.
        if (descriptor.isValid())
            lockFd_ = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
        if (lockFd_ < 0)
            refusal = QStringLiteral("no lock in the answer");
    }
    if (refusal.isEmpty() || lockRefusalReported_)
        return;
    // Polkit may refuse; the count is then saved only if there is time.
    lockRefusalReported_ = true;
    printDiagnostic(QStringLiteral("logind gives no sleep delay lock (%1); the count may not be saved just before a sleep.").arg(refusal));
}

void LogindSleepNotifications::releaseLock()
{
    if (lockFd_ < 0)
        return;
    ::close(lockFd_);
    lockFd_ = -1;
}

} // namespace drainwatch
