#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <set>

class QSocketNotifier;

namespace drainwatch {

// One monitor per user and name. A lock file decides who runs, so two starts
// at the same moment give one primary; a local socket lets a later start ask
// the primary to show its window. A lock left by a crashed process is taken
// over: its process is gone. Plain Unix sockets, not Qt Network: that library
// and what it loads would add a fifth to the terminal monitor's memory.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name = QStringLiteral("Drainwatch"), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this process is the one monitor. False: another one runs and has
    // been asked to come forward; this process should end.
    bool tryBecomePrimary();

    // $XDG_RUNTIME_DIR (else the temporary folder)/<name>-<uid>.lock
    const QString& lockFilePath() const { return lockPath_; }
    const QString& serverPath() const { return serverPath_; }

signals:
    void activationRequested();

private:
    void listen();
    bool knock() const;
    void acceptKnocks();
    void readKnock(int fd, QSocketNotifier* notifier, QByteArray& received);

    QString lockPath_;
    QString serverPath_;
    QLockFile lock_;
    int serverFd_ = -1;
    std::set<int> knocks_;
};

} // namespace drainwatch
