#include "platform/QSettingsPreferenceStore.h"

#include "platform/Diagnostic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <charconv>
#include <cmath>
#include <filesystem>

namespace drainwatch {

namespace {

// Shortest text that reads back to the same bits, whatever the locale.
template <typename Number>
QString numberText(Number value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

template <typename Number>
std::optional<Number> parseWhole(const QByteArray& text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.constBegin(), text.constEnd(), value);
    if (error != std::errc() || end != text.constEnd())
        return std::nullopt;
    return value;
}

std::optional<double> parseFinite(const QByteArray& text)
{
    const auto value = parseWhole<double>(text);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

} // namespace

QSettingsPreferenceStore::QSettingsPreferenceStore(const QString& fileName) : path_(defaultPath(fileName))
{
    load();
}

QSettingsPreferenceStore::~QSettingsPreferenceStore()
{
    synchronize();
}

QString QSettingsPreferenceStore::defaultPath(const QString& fileName)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative path.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Drainwatch/") + fileName;
}

void QSettingsPreferenceStore::load()
{
    const QFileInfo file(path_);
    if (!file.exists())
        return;
    if (file.isFile() && file.size() == 0) {
        printDiagnostic(QStringLiteral("%1 is empty; starting a new count.").arg(path_));
        return;
    }
    QSettings settings(path_, QSettings::IniFormat);
    switch (settings.status()) {
    case QSettings::NoError:
        for (const QString& key : settings.allKeys())
            values_[key.toStdString()] = settings.value(key);
        return;
    case QSettings::FormatError: {
        // Kept for the user to look at; a new file takes its place.
        QString aside = path_ + QStringLiteral(".corrupt");
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = path_ + QStringLiteral(".corrupt-%1").arg(n);
        if (QFile::rename(path_, aside))
            printDiagnostic(QStringLiteral("%1 cannot be read (it is not a settings file); kept as %2, starting a new count.")
                                .arg(path_, aside));
        else
            printDiagnostic(QStringLiteral("%1 cannot be read (it is not a settings file); starting a new count.").arg(path_));
        return;
    }
    case QSettings::AccessError: {
        QFile probe(path_);
        const QString reason = probe.open(QIODevice::ReadOnly) ? QStringLiteral("access denied") : probe.errorString();
        printDiagnostic(QStringLiteral("%1 cannot be read (%2); starting a new count.").arg(path_, reason));
        return;
    }
    }
}

std::optional<QString> QSettingsPreferenceStore::text(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    // An unquoted comma makes QSettings read a list.
    if (found->second.typeId() == QMetaType::QStringList)
        return found->second.toStringList().join(QLatin1Char(','));
    return found->second.toString();
}

void QSettingsPreferenceStore::reportUnreadable(const std::string& key, const QString& text) const
{
    if (!reportedKeys_.insert(key).second)
        return;
    QString shown = text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
    for (QChar& c : shown)
        if (c.unicode() < 0x20)
            c = QLatin1Char('?');
    printDiagnostic(QStringLiteral("%1: %2 holds \"%3\", not a number; reading it as 0.")
                        .arg(path_, QString::fromStdString(key), shown));
}

double QSettingsPreferenceStore::doubleForKey(const std::string& key) const
{
    const auto stored = text(key);
    if (!stored)
        return 0.0;
    if (const auto value = parseFinite(stored->toLatin1()))
        return *value;
    reportUnreadable(key, *stored);
    return 0.0;
}

std::int64_t QSettingsPreferenceStore::integerForKey(const std::string& key) const
{
    const auto stored = text(key);
    if (!stored)
        return 0;
    const QByteArray bytes = stored->toLatin1();
    if (const auto value = parseWhole<std::int64_t>(bytes))
        return *value;
    // A value written as a double converts, as the platform stores do.
    if (const auto value = parseFinite(bytes); value && std::fabs(*value) < 9.2e18)
        return static_cast<std::int64_t>(*value);
    reportUnreadable(key, *stored);
    return 0;
}

void QSettingsPreferenceStore::setDouble(double value, const std::string& key)
{
    values_[key] = numberText(value);
    reportedKeys_.erase(key);
    dirty_ = true;
}

void QSettingsPreferenceStore::setInteger(std::int64_t value, const std::string& key)
{
    values_[key] = numberText(value);
    reportedKeys_.erase(key);
    dirty_ = true;
}

void QSettingsPreferenceStore::synchronize()
{
    if (!dirty_)
        return;
    // A fresh QSettings each time: its status is sticky, so only one that
    // starts clean tells how this save went.
    QSettings settings(path_, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);
    const QSettings::Status before = settings.status();
    if (before == QSettings::NoError) {
        for (const auto& [key, value] : values_)
            settings.setValue(QString::fromStdString(key), value);
        settings.sync();
        if (settings.status() == QSettings::NoError) {
            dirty_ = false;
            failureReported_ = false;
            return;
        }
    }
    if (failureReported_)
        return;
    failureReported_ = true;
    printDiagnostic(QStringLiteral("cannot save to %1 (%2); the count goes on in memory and is saved when this works again.")
                        .arg(path_, whyNotWritable(before)));
}

// QSettings reports only that a save failed; this finds out why.
QString QSettingsPreferenceStore::whyNotWritable(int statusBefore) const
{
    if (statusBefore == QSettings::FormatError)
        return QStringLiteral("the file there is not a settings file; it is left as it is");
    const QFileInfo file(path_);
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(file.absolutePath()).toStdString(), error);
    if (error)
        return QString::fromLocal8Bit(error.message());
    if (file.exists()) {
        QFile existing(path_);
        if (!existing.open(QIODevice::ReadWrite))
            return existing.errorString();
    }
    QTemporaryFile probe(file.absolutePath() + QStringLiteral("/.Drainwatch-probe-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    const QByteArray block(8192, '\n');
    if (probe.write(block) != block.size() || !probe.flush())
        return probe.errorString();
    return QStringLiteral("the file could not be replaced");
}

} // namespace drainwatch
