// SPDX-License-Identifier: MIT
#include "desktop/WindowSettings.h"

#include <QSettings>

namespace drainwatch {

namespace {

// A fresh QSettings for each read and write: it merges with what is on disk,
// so the counters saved in between are kept.
QVariant read(const QString& path, const QString& key)
{
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(QStringLiteral("window/") + key);
}

void write(const QString& path, const QString& key, const QVariant& value)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);
    settings.setValue(QStringLiteral("window/") + key, value);
    settings.sync();
}

} // namespace

bool WindowSettings::useWatts() const
{
    return read(path_, QStringLiteral("useWatts")).toString() == QLatin1String("true");
}

void WindowSettings::setUseWatts(bool useWatts)
{
    write(path_, QStringLiteral("useWatts"), useWatts ? QStringLiteral("true") : QStringLiteral("false"));
}

QByteArray WindowSettings::geometry() const { return read(path_, QStringLiteral("geometry")).toByteArray(); }

void WindowSettings::setGeometry(const QByteArray& geometry) { write(path_, QStringLiteral("geometry"), geometry); }

QString WindowSettings::closeWithoutTray() const
{
    const QString choice = read(path_, QStringLiteral("closeWithoutTray")).toString();
    return choice == QLatin1String("hide") || choice == QLatin1String("quit") ? choice : QString();
}

void WindowSettings::setCloseWithoutTray(const QString& choice)
{
    write(path_, QStringLiteral("closeWithoutTray"), choice);
}

} // namespace drainwatch
