// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace drainwatch {

// "Start at login": an XDG autostart entry for Drainwatch in the user's
// $XDG_CONFIG_HOME/autostart, started with --tray so that a login brings the
// tray icon, not the window. The file is the state: nothing is kept apart.
class Autostart {
public:
    // extraArguments: what the entry passes besides --tray (--simulate).
    explicit Autostart(QStringList extraArguments = {});

    static QString path();
    // The entry is there and not turned off (Hidden=true, as desktops'
    // settings tools leave it).
    bool isEnabled() const;
    // Writes or removes the entry; false, with problem() saying why, when
    // that cannot be done.
    bool setEnabled(bool enabled);
    const QString& problem() const { return problem_; }

private:
    QString command() const;

    QStringList extraArguments_;
    QString problem_;
};

} // namespace drainwatch
