// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

namespace drainwatch {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the event loop. The handler
// only writes the signal number to a pipe; everything else runs later, in
// the loop, where saving and logging are safe.
class QuitSignals final : public QObject {
    Q_OBJECT
public:
    // The one instance of the process, made on the first call (never null);
    // the earlier handlers come back when it is destroyed.
    static QuitSignals* install(QObject* parent);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    QuitSignals(QObject* parent, int readEnd, int writeEnd);
    void drain();

    int readEnd_;
    int writeEnd_;
};

} // namespace drainwatch
