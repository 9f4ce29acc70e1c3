// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/MonitorServices.h"

#include <QObject>
#include <QString>

namespace drainwatch {

// Opens a file with xdg-open, which knows every desktop's choice of
// application. What cannot even start is a false return, with problem()
// saying why; what xdg-open itself fails at (no application for the type,
// exit code 4) comes later, as failed().
class QtFileOpener final : public QObject, public FileOpener {
    Q_OBJECT
public:
    bool open(const std::string& path) override;
    // Why the last open() returned false.
    const QString& problem() const { return problem_; }

signals:
    void failed(const QString& reason);

private:
    QString problem_;
};

} // namespace drainwatch
