// SPDX-License-Identifier: MIT
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace drainwatch {

// One counting monitor per user and name. A lock file decides who runs, so
// two starts at the same moment give one primary; a local socket lets a later
// start ask the primary to show its window, or follow its figures (a status
// bar beside the window). A lock left by a crashed process is taken over: its
// process is gone. Plain Unix sockets, not Qt Network: that library and what
// it loads would add a fifth to the terminal monitor's memory.
// $XDG_RUNTIME_DIR, else the private folder ~/.cache/Drainwatch (made 0700);
// never a shared one such as /tmp. Empty, with the reason, when there is none.
QString runtimeFolder(QString& problem);

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,   // this process is the one monitor
        Secondary, // another one runs and answers; ask it with requestWindow() or follow()
        Failed,    // it cannot be told which: the reason has been printed
    };
    enum class WindowAnswer { Shown, Windowless, NoAnswer };

    explicit SingleInstance(const QString& name = QStringLiteral("Drainwatch"), QObject* parent = nullptr);
    ~SingleInstance() override;

    Role tryBecomePrimary();

    // Secondary: asks the primary to bring its window forward.
    WindowAnswer requestWindow();
    // Secondary: asks for the primary's figures, one JSON line a tick, the
    // current one first. Returns the descriptor to read them from (the
    // caller's to close), -1 when the primary went away.
    int follow();

    // Primary: whether it has a window to bring forward.
    void setHasWindow(bool hasWindow) { hasWindow_ = hasWindow; }
    // Primary: the tick's JSON line (without its end), for every follower.
    void publish(const std::string& line);
    // Primary: the last tick's line, which a new follower gets first.
    std::function<std::string()> currentLine;
    bool hasFollowers() const { return followers_ > 0; }

    // $XDG_RUNTIME_DIR, else the private folder ~/.cache/Drainwatch, /<name>-<uid>.lock
    const QString& lockFilePath() const { return lockPath_; }
    const QString& serverPath() const { return serverPath_; }

    // How long a peer may take to say what it wants.
    std::chrono::milliseconds knockPatience{2000};
    // Peers yet to say it, and followers, at most; the oldest silent one gives way.
    static constexpr std::size_t kMostWaiting = 8;
    static constexpr int kMostFollowers = 16;

signals:
    void activationRequested();

private:
    struct Peer {
        QSocketNotifier* notifier = nullptr;
        QByteArray received;
        bool following = false;
        unsigned serial = 0;
    };

    void listen();
    int connectToPrimary() const;
    void acceptKnocks();
    void readKnock(int fd);
    void answer(int fd, Peer& peer);
    void drop(int fd);

    QString folderProblem_;
    QString lockPath_;
    QString serverPath_;
    std::unique_ptr<QLockFile> lock_;
    int serverFd_ = -1;
    int peerFd_ = -1;
    bool hasWindow_ = false;
    std::map<int, Peer> peers_;
    std::deque<int> waiting_;
    int followers_ = 0;
    unsigned nextSerial_ = 0;
};

} // namespace drainwatch
