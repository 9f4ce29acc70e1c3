// SPDX-License-Identifier: MIT
#include "platform/SingleInstance.h"

#include "log/UserHome.h"
#include "platform/Diagnostic.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace drainwatch {

namespace {

const QByteArray kActivate = QByteArrayLiteral("activate\n");
const QByteArray kFollow = QByteArrayLiteral("follow\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");
const QByteArray kWindowless = QByteArrayLiteral("windowless\n");
// Longer than any request: a peer that sends more is not one of ours.
constexpr qsizetype kLongestKnock = 64;

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

bool sendAll(int fd, const char* data, std::size_t size)
{
    ssize_t written;
    do
        written = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(size);
}

} // namespace

// $XDG_RUNTIME_DIR, else a folder of the user's own in the home folder; never
// a shared one such as /tmp, where another user could hold the lock first and
// keep the monitor from ever starting. Empty, with the reason, when there is none.
QString runtimeFolder(QString& problem)
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && !QDir::isRelativePath(runtime) && QFileInfo(runtime).isDir())
        return runtime;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || QDir::isRelativePath(cache)) {
        const auto home = userHome();
        if (!home) {
            problem = QStringLiteral("neither XDG_RUNTIME_DIR nor a home folder is known");
            return {};
        }
        cache = QFile::decodeName(home->c_str()) + QStringLiteral("/.cache");
    }
    const QString folder = cache + QStringLiteral("/Drainwatch");
    const QByteArray encoded = QFile::encodeName(folder);
    QDir().mkpath(cache);
    ::mkdir(encoded.constData(), 0700);
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0)
        problem = QStringLiteral("cannot create %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    else if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
        problem = QStringLiteral("%1 is not a folder of this user's alone").arg(folder);
    return problem.isEmpty() ? folder : QString();
}

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent)
{
    const QString folder = runtimeFolder(folderProblem_);
    if (folder.isEmpty())
        return;
    // The uid keeps users apart where the folder is shared.
    const QString base = QStringLiteral("%1/%2-%3").arg(folder, name).arg(::getuid());
    lockPath_ = base + QStringLiteral(".lock");
    serverPath_ = base + QStringLiteral(".socket");
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // The lock is held for the whole run: never stale by age, only when its
    // process is gone (or the machine has restarted since).
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (serverFd_ >= 0) {
        ::close(serverFd_);
        QFile::remove(serverPath_);
    }
    // Followers see the end of their stream, and may take over the count.
    for (const auto& [fd, peer] : peers_)
        ::close(fd);
    if (peerFd_ >= 0)
        ::close(peerFd_);
}

SingleInstance::Role SingleInstance::tryBecomePrimary()
{
    if (!lock_) {
        printDiagnostic(QStringLiteral("no place for the lock that keeps a second monitor from starting (%1).")
                            .arg(folderProblem_));
        return Role::Failed;
    }
    if (lock_->isLocked())
        return Role::Primary;
    // The primary may hold the lock a moment before it listens.
    const QDeadlineTimer deadline(3000);
    for (;;) {
        if (lock_->tryLock(0)) {
            listen();
            return Role::Primary;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            const QString reason = lock_->error() == QLockFile::PermissionError ? QStringLiteral("permission denied")
                                                                                : QStringLiteral("unknown error");
            printDiagnostic(QStringLiteral("cannot create %1 (%2); running without the check for another instance.")
                                .arg(lockPath_, reason));
            return Role::Primary;
        }
        if ((peerFd_ = connectToPrimary()) >= 0)
            return Role::Secondary;
        if (deadline.hasExpired())
            break;
        QThread::msleep(50);
    }
    printDiagnostic(
        QStringLiteral("another process holds %1 but does not answer; if no Drainwatch runs, remove that file.")
            .arg(lockPath_));
    return Role::Failed;
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
        if (serverFd_ < 0 || ::bind(serverFd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
            ::chmod(address->sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(serverFd_, 8) != 0)
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

int SingleInstance::connectToPrimary() const
{
    const auto address = socketAddress(serverPath_);
    if (!address)
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A primary whose queue is full must not hold this start for long.
    const timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

SingleInstance::WindowAnswer SingleInstance::requestWindow()
{
    if (peerFd_ < 0 || ::send(peerFd_, kActivate.constData(), static_cast<std::size_t>(kActivate.size()),
                              MSG_NOSIGNAL) != kActivate.size())
        return WindowAnswer::NoAnswer;
    const timeval timeout{2, 0};
    ::setsockopt(peerFd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray reply;
    char buffer[kLongestKnock];
    while (!reply.contains('\n') && reply.size() < kLongestKnock) {
        const ssize_t count = ::read(peerFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        reply.append(buffer, count);
    }
    ::close(peerFd_);
    peerFd_ = -1;
    return reply == kShown        ? WindowAnswer::Shown
           : reply == kWindowless ? WindowAnswer::Windowless
                                  : WindowAnswer::NoAnswer;
}

int SingleInstance::follow()
{
    const int fd = std::exchange(peerFd_, -1);
    if (fd >= 0 &&
        ::send(fd, kFollow.constData(), static_cast<std::size_t>(kFollow.size()), MSG_NOSIGNAL) == kFollow.size())
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

void SingleInstance::publish(const std::string& line)
{
    const std::string text = line + '\n';
    std::vector<int> lost;
    for (const auto& [fd, peer] : peers_)
        if (peer.following && !sendAll(fd, text.data(), text.size()))
            lost.push_back(fd); // gone, or too slow to keep up
    for (const int fd : lost)
        drop(fd);
}

void SingleInstance::acceptKnocks()
{
    int fd;
    while ((fd = ::accept4(serverFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        // A peer that connects and says nothing must not hold descriptors for ever.
        if (waiting_.size() >= kMostWaiting)
            drop(waiting_.front());
        Peer& peer = peers_[fd];
        peer.serial = ++nextSerial_;
        peer.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(peer.notifier, &QSocketNotifier::activated, this, [this, fd] { readKnock(fd); });
        waiting_.push_back(fd);
        QTimer::singleShot(knockPatience, this, [this, fd, serial = peer.serial] {
            const auto found = peers_.find(fd);
            if (found != peers_.end() && found->second.serial == serial && !found->second.following)
                drop(fd);
        });
        readKnock(fd);
    }
}

void SingleInstance::readKnock(int fd)
{
    const auto found = peers_.find(fd);
    if (found == peers_.end())
        return;
    Peer& peer = found->second;
    char buffer[kLongestKnock];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    // A follower says nothing more: what comes now is its end.
    if (count > 0 && !peer.following) {
        peer.received.append(buffer, count);
        if (!peer.received.contains('\n') && peer.received.size() < kLongestKnock)
            return;
        answer(fd, peer);
        return;
    }
    drop(fd);
}

void SingleInstance::answer(int fd, Peer& peer)
{
    const QByteArray request = peer.received.left(peer.received.indexOf('\n') + 1);
    if (request == kFollow && followers_ < kMostFollowers) {
        peer.following = true;
        ++followers_;
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), fd), waiting_.end());
        const std::string current = currentLine ? currentLine() + '\n' : std::string();
        if (current.empty() || sendAll(fd, current.data(), current.size()))
            return;
    } else if (request == kActivate) {
        const QByteArray& reply = hasWindow_ ? kShown : kWindowless;
        sendAll(fd, reply.constData(), static_cast<std::size_t>(reply.size()));
        if (hasWindow_)
            emit activationRequested();
    }
    drop(fd);
}

void SingleInstance::drop(int fd)
{
    const auto found = peers_.find(fd);
    if (found == peers_.end())
        return;
    found->second.notifier->setEnabled(false);
    found->second.notifier->deleteLater();
    if (found->second.following)
        --followers_;
    peers_.erase(found);
    if (const auto queued = std::find(waiting_.begin(), waiting_.end(), fd); queued != waiting_.end())
        waiting_.erase(queued);
    ::close(fd);
}

} // namespace drainwatch
