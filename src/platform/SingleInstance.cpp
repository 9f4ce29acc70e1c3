#include "platform/SingleInstance.h"

#include "platform/Diagnostic.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace drainwatch {

namespace {

const QByteArray kActivate = QByteArrayLiteral("activate\n");

QString baseName(const QString& name)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || QDir::isRelativePath(folder) || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    // The uid keeps users apart where the folder is shared, as /tmp is.
    return QStringLiteral("%1/%2-%3").arg(folder, name).arg(::getuid());
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
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance()
{
    server_.close();
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
    // We hold the lock: a socket file there is a crashed primary's.
    QLocalServer::removeServer(serverPath_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(serverPath_))
        printDiagnostic(QStringLiteral("cannot listen on %1 (%2); a second start cannot bring this window forward.")
                            .arg(serverPath_, server_.errorString()));
}

bool SingleInstance::knock() const
{
    QLocalSocket socket;
    socket.connectToServer(serverPath_);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(kActivate);
    socket.waitForBytesWritten(1000);
    const bool sent = socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto readKnock = [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == kActivate)
                emit activationRequested();
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, readKnock);
        readKnock();
    }
}

} // namespace drainwatch
