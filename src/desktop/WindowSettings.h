// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

namespace drainwatch {

// The window's own choices (Show watts, its size and place), kept in the
// counters' settings file but in a [window] group of their own, which the
// counters' store leaves alone. Each change is on disk at once.
class WindowSettings {
public:
    explicit WindowSettings(QString path) : path_(std::move(path)) {}

    bool useWatts() const;
    void setUseWatts(bool useWatts);
    // As QWidget::saveGeometry() gives it; empty when never saved.
    QByteArray geometry() const;
    void setGeometry(const QByteArray& geometry);
    // What Close Window does on a desktop without a tray, when the user said
    // not to be asked again: "hide" or "quit"; empty: ask.
    QString closeWithoutTray() const;
    void setCloseWithoutTray(const QString& choice);

private:
    QString path_;
};

} // namespace drainwatch
