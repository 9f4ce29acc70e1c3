#include "platform/SingleInstance.h"

#include "platform/Diagnostic.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace drainwatch {

namespace {

const QByteArray kActivate = QByteArrayLiteral("activate\n");
// Longer than any knock: a peer that sends more is not one of ours.
constexpr qsizetype kLongestKnock = 64;

QString baseName(const QString& name)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || QDir::isRelativePath(folder) || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    // The uid keeps users apart where the folder is shared, as /tmp is.
    return QStringLiteral("%1/%2-%3").arg(folder, name).arg(::getuid());
}

std::optional<sockaddr_un> socketAddress(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty() || static_cast<std::size_t>(encoded.size()) >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    return address;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent),
      lockPath_(baseName(name) + QStringLiteral(".lock")),
      serverPath_(baseName(name) + QStringLiteral(".socket")),
      lock_(lockPath_)
{
    // The lock is held for the whole run: never stale by age, only when its
    // process is gone (or the machine has restarted since).
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    for (const int fd : knocks_)
        ::close(fd);
    if (serverFd_ >= 0) {
        ::close(serverFd_);
        QFile::remove(serverPath_);
    }
}

bool SingleInstance::tryBecomePrimary()
{
    if (lock_.isLocked())
        return true;
    // The primary may hold the lock a moment before it listens.
    const QDeadlineTimer deadline(3000);
    for (;;) {
        if (lock_.tryLock(0)) {
            listen();
            return true;
        }
        if (lock_.error() != QLockFile::LockFailedError) {
            const QString reason = lock_.error() == QLockFile::PermissionError ? QStringLiteral("permission denied")
                                                                               : QStringLiteral("unknown error");
            printDiagnostic(QStringLiteral("cannot create %1 (%2); running without the check for another instance.")
                                .arg(lockPath_, reason));
            return true;
        }
        if (knock())
            return false;
        if (deadline.hasExpired())
            break;
        QThread::msleep(50);
    }
    printDiagnostic(QStringLiteral("another instance holds %1 but does not answer; if none runs, remove that file.").arg(lockPath_));
    return false;
}

void SingleInstance::listen()
{
    const auto address = socketAddress(serverPath_);
    QString failure;
    if (!address) {
        failure = QStringLiteral("the path is too long for a socket");
    } else {
        // We hold the lock: a socket file there is a crashed primary's.
        ::unlink(address->sun_path);
        serverFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (serverFd_ < 0 || ::bind(serverFd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0
            || ::chmod(address->sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(serverFd_, 8) != 0)
            failure = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!failure.isEmpty()) {
        if (serverFd_ >= 0)
            ::close(serverFd_);
        serverFd_ = -1;
        printDiagnostic(QStringLiteral("cannot listen on %1 (%2); a second start cannot bring this window forward.")
                            .arg(serverPath_, failure));
        return;
    }
    auto* notifier = new QSocketNotifier(serverFd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SingleInstance::acceptKnocks);
}

bool SingleInstance::knock() const
{
    const auto address = socketAddress(serverPath_);
    if (!address)
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A primary whose queue is full must not hold this start for long.
    const timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    if (sent) {
        ssize_t written;
        do
            written = ::send(fd, kActivate.constData(), static_cast<std::size_t>(kActivate.size()), MSG_NOSIGNAL);
        while (written < 0 && errno == EINTR);
        sent = written == kActivate.size();
    }
    ::close(fd);
    return sent;
}

void SingleInstance::acceptKnocks()
{
    int fd;
    while ((fd = ::accept4(serverFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        knocks_.insert(fd);
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        auto received = std::make_shared<QByteArray>();
        connect(notifier, &QSocketNotifier::activated, this,
                [this, fd, notifier, received] { readKnock(fd, notifier, *received); });
    }
}

void SingleInstance::readKnock(int fd, QSocketNotifier* notifier, QByteArray& received)
{
    char buffer[kLongestKnock];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count > 0) {
        received.append(buffer, count);
        if (!received.contains('\n') && received.size() < kLongestKnock)
            return;
    }
    notifier->setEnabled(false);
    notifier->deleteLater();
    knocks_.erase(fd);
    ::close(fd);
    if (received.left(received.indexOf('\n') + 1) == kActivate)
        emit activationRequested();
}

} // namespace drainwatch
