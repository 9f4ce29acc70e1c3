// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

namespace drainwatch {

// The width of the terminal on `fd` in columns; 0 when it is not a terminal.
int terminalColumns(int fd);

// SIGWINCH as a Qt signal on the event loop: the terminal's size changed.
// The handler only writes to a pipe. One per process.
class TerminalResize final : public QObject {
    Q_OBJECT
public:
    explicit TerminalResize(QObject* parent = nullptr);
    ~TerminalResize() override;

signals:
    void resized();

private:
    int ends_[2] = {-1, -1};
};

} // namespace drainwatch
