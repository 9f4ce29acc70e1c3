// SPDX-License-Identifier: MIT
#include "desktop/Autostart.h"

#include "platform/QSettingsPreferenceStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace drainwatch {

Autostart::Autostart(QStringList extraArguments) : extraArguments_(std::move(extraArguments)) {}

QString Autostart::path()
{
    return QSettingsPreferenceStore::configFolder() +
           QStringLiteral("/autostart/io.github.drainwatch.Drainwatch.desktop");
}

bool Autostart::isEnabled() const
{
    if (!QFileInfo(path()).isFile())
        return false;
    QSettings entry(path(), QSettings::IniFormat);
    return entry.value(QStringLiteral("Desktop Entry/Hidden")).toString() != QLatin1String("true");
}

// The command beside this program in a build tree; once installed, the one
// on the PATH.
QString Autostart::command() const
{
    const QString sibling = QCoreApplication::applicationDirPath() + QStringLiteral("/drainwatch");
    QStringList words{QFileInfo(sibling).isExecutable() ? sibling : QStringLiteral("drainwatch"),
                      QStringLiteral("--tray")};
    words += extraArguments_;
    for (QString& word : words)
        if (word.contains(QLatin1Char(' ')))
            word = QLatin1Char('"') + word + QLatin1Char('"');
    return words.join(QLatin1Char(' '));
}

bool Autostart::setEnabled(bool enabled)
{
    problem_.clear();
    const QString file = path();
    if (!enabled) {
        if (QFileInfo::exists(file) && !QFile::remove(file)) {
            problem_ = QObject::tr("cannot remove %1").arg(file);
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        problem_ = QObject::tr("cannot make the folder %1").arg(QFileInfo(file).absolutePath());
        return false;
    }
    // Written by hand: QSettings would escape the desktop entry's keys.
    QSaveFile out(file);
    const QByteArray text = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Drainwatch\n"
                                           "Comment=Watch how fast the battery drains, awake and in sleep\n"
                                           "Exec=%1\n"
                                           "Icon=io.github.drainwatch.Drainwatch\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(command())
                                .toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        problem_ = QObject::tr("cannot write %1 (%2)").arg(file, out.errorString());
        return false;
    }
    return true;
}

} // namespace drainwatch
