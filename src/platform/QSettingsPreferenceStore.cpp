// SPDX-License-Identifier: MIT
#include "platform/QSettingsPreferenceStore.h"

#include "log/UserHome.h"
#include "platform/Diagnostic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include <cerrno>
#include <csignal>

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

// The keys this program writes; a file whose keys are not all of this form
// is damaged, or is not ours.
bool isKeyName(const QString& key)
{
    if (key.isEmpty())
        return false;
    for (const QChar c : key)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('.') && c != QLatin1Char('_'))
            return false;
    return true;
}

// QSettings reads a value "@Variant(...)" through QDataStream, which trusts
// the lengths it finds there: one damaged line can ask for gigabytes and end
// the program. This program writes only plain numbers, never an '@' or a
// backslash (the escape that could spell one), so a line holding either is
// damage and is left out before QSettings sees the file. Returns the lines
// left out.
int dropForeignLines(QByteArray& content)
{
    QList<QByteArray> lines = content.split('\n');
    // The window's group holds its geometry as an escaped @ByteArray; only a
    // @Variant, which makes QDataStream allocate what it is told, is refused there.
    bool windowGroup = false;
    QList<QByteArray> kept;
    for (const QByteArray& line : lines) {
        if (line.startsWith('['))
            windowGroup = line.trimmed() == "[window]";
        const bool foreign = windowGroup ? line.contains("@Variant") : line.contains('@') || line.contains('\\');
        if (!foreign)
            kept.append(line);
    }
    const auto dropped = lines.size() - kept.size();
    if (dropped == 0)
        return 0;
    content = kept.join('\n');
    return static_cast<int>(dropped);
}

QString cannotSave(const QString& path, const QString& reason)
{
    return QStringLiteral("cannot save to %1 (%2); the count goes on in memory and is saved when this works again.")
        .arg(path, reason);
}

} // namespace

QSettingsPreferenceStore::QSettingsPreferenceStore(const QString& fileName) : path_(defaultPath(fileName))
{
    clearLeftovers();
    load();
    // Said at the start: the first save may be hours away.
    if (const auto problem = writeProblem(); problem && !irregular_) {
        failureReported_ = true;
        printDiagnostic(cannotSave(path_, *problem));
    }
}

QSettingsPreferenceStore::~QSettingsPreferenceStore() { synchronize(); }

QString QSettingsPreferenceStore::configFolder()
{
    const auto folder = configHome();
    return folder ? QFile::decodeName(folder->c_str()) : QStringLiteral("/.config");
}

QString QSettingsPreferenceStore::defaultPath(const QString& fileName)
{
    return configFolder() + QStringLiteral("/Drainwatch/") + fileName;
}

// A save killed half-way (a crash, a power cut) leaves QSettings' temporary
// file, and may leave its lock file empty: QSettings would wait 30 seconds at
// the next save to call that lock stale, by which time a suspend has gone
// ahead unsaved. One monitor runs per user, so nobody else is saving now.
void QSettingsPreferenceStore::clearLeftovers() const
{
    const QFileInfo file(path_);
    QDir folder = file.absoluteDir();
    if (!folder.exists())
        return;
    // A lock cut short, or naming a process that is gone, is what a killed
    // save leaves; a lock that names a live process is QLockFile's to judge.
    const auto lockLeft = [](const QString& path, bool* cutShort) {
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly))
            return false;
        const QByteArray head = lock.peek(64);
        *cutShort = !head.contains('\n');
        if (*cutShort)
            return true;
        bool isNumber = false;
        const long long pid = head.left(head.indexOf('\n')).toLongLong(&isNumber);
        return isNumber && pid > 0 && pid <= 0x7fffffff && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    };
    bool lockCutShort = false;
    const bool saveWasKilled = lockLeft(path_ + QStringLiteral(".lock"), &lockCutShort);
    // QSaveFile names its temporary file <name>.XXXXXX, six ASCII letters as
    // Qt draws them. Such a file is a leftover only beside the lock of a
    // killed save and when it holds nothing or settings: a user's own
    // "Drainwatch.conf.Backup" or ".save01" stays.
    const auto temporary = [](const QString& name) {
        const QString suffix = name.right(6);
        return std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
        });
    };
    if (saveWasKilled) {
        for (const QString& name : folder.entryList({file.fileName() + QStringLiteral(".??????")},
                                                    QDir::Files | QDir::Hidden | QDir::NoSymLinks))
            if (temporary(name) && holdsOnlySettings(folder.filePath(name)))
                folder.remove(name);
    }
    // ".rmlock" is what QLockFile makes while it removes a stale lock.
    if (saveWasKilled && lockCutShort)
        QFile::remove(path_ + QStringLiteral(".lock"));
    bool rmlockCutShort = false;
    if (lockLeft(path_ + QStringLiteral(".lock.rmlock"), &rmlockCutShort) && rmlockCutShort)
        QFile::remove(path_ + QStringLiteral(".lock.rmlock"));
}

// Nothing, or an INI file of this program's keys, possibly cut short.
bool QSettingsPreferenceStore::holdsOnlySettings(const QString& path)
{
    QFile candidate(path);
    constexpr qint64 kLargestSave = 1 << 20;
    if (!candidate.open(QIODevice::ReadOnly) || candidate.size() > kLargestSave)
        return false;
    const QList<QByteArray> lines = candidate.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const bool last = i == lines.size() - 1;
        if (line.isEmpty() || (i == 0 && (line == "[General]" || (last && QByteArray("[General]").startsWith(line)))))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (i == 0 || (equals < 0 && !last) || !isKeyName(QString::fromLatin1(equals < 0 ? line : line.left(equals))))
            return false;
    }
    return true;
}

// Kept for the user to look at; a new file takes its place. Empty when the
// file cannot be moved.
QString QSettingsPreferenceStore::setAside() const
{
    QString aside = path_ + QStringLiteral(".corrupt");
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path_ + QStringLiteral(".corrupt-%1").arg(n);
    return QFile::rename(path_, aside) ? aside : QString();
}

void QSettingsPreferenceStore::load()
{
    const QFileInfo file(path_);
    if (!file.exists())
        return;
    // QSettings would block on a FIFO until someone writes to it.
    if (!file.isFile()) {
        irregular_ = failureReported_ = true;
        printDiagnostic(
            QStringLiteral("%1 is not a regular file; starting a new count, which cannot be saved while that is there.")
                .arg(path_));
        return;
    }
    if (file.size() == 0) {
        printDiagnostic(QStringLiteral("%1 is empty; starting a new count.").arg(path_));
        return;
    }
    QFile original(path_);
    QByteArray content;
    if (original.open(QIODevice::ReadOnly))
        content = original.readAll();
    const int foreignLines = dropForeignLines(content);
    // Only a file with such lines is read from a cleaned copy.
    QTemporaryFile cleaned;
    if (foreignLines > 0 && (!cleaned.open() || cleaned.write(content) != content.size() || !cleaned.flush())) {
        printDiagnostic(QStringLiteral("%1 is damaged and no copy of it can be made (%2); starting a new count.")
                            .arg(path_, cleaned.errorString()));
        return;
    }
    QSettings settings(foreignLines > 0 ? cleaned.fileName() : path_, QSettings::IniFormat);
    switch (settings.status()) {
    case QSettings::NoError: {
        // QSettings reads almost anything as settings: a file of zeros (what
        // a power cut can leave) as none, random bytes as odd keys.
        int damaged = foreignLines;
        int windowKeys = 0;
        for (const QString& key : settings.allKeys()) {
            // The window's own group, which the window reads and writes.
            if (key.startsWith(QLatin1String("window/")))
                ++windowKeys;
            else if (isKeyName(key))
                values_[key.toStdString()] = settings.value(key);
            else
                ++damaged;
        }
        if (damaged == 0 && (!values_.empty() || windowKeys > 0))
            return;
        const QString aside = setAside();
        const QString kept = aside.isEmpty() ? QString() : QStringLiteral("kept as %1, ").arg(aside);
        if (values_.empty()) {
            printDiagnostic(
                QStringLiteral("%1 holds no settings (it is damaged); %2starting a new count.").arg(path_, kept));
        } else {
            dirty_ = true;
            printDiagnostic(QStringLiteral("%1 is damaged (%2 of its entries are not settings); %3counting on with the "
                                           "%4 values it still holds.")
                                .arg(path_)
                                .arg(damaged)
                                .arg(kept)
                                .arg(values_.size()));
        }
        return;
    }
    case QSettings::FormatError: {
        const QString aside = setAside();
        if (!aside.isEmpty())
            printDiagnostic(
                QStringLiteral("%1 cannot be read (it is not a settings file); kept as %2, starting a new count.")
                    .arg(path_, aside));
        else
            printDiagnostic(
                QStringLiteral("%1 cannot be read (it is not a settings file); starting a new count.").arg(path_));
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
    if (const QFileInfo file(path_); file.exists() && !file.isFile()) {
        if (!failureReported_)
            printDiagnostic(cannotSave(path_, QStringLiteral("it is not a regular file")));
        failureReported_ = true;
        return;
    }
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
    printDiagnostic(cannotSave(path_, whyNotWritable(before)));
}

// QSettings reports only that a save failed; this finds out why.
QString QSettingsPreferenceStore::whyNotWritable(int statusBefore) const
{
    if (statusBefore == QSettings::FormatError)
        return QStringLiteral("the file there is not a settings file; it is left as it is");
    return writeProblem().value_or(QStringLiteral("the file could not be replaced"));
}

// What stops a save, found by trying: empty when nothing does.
std::optional<QString> QSettingsPreferenceStore::writeProblem() const
{
    const QFileInfo file(path_);
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(file.absolutePath()).toStdString(), error);
    if (error)
        return QString::fromLocal8Bit(error.message());
    if (file.exists() && !file.isFile())
        return QStringLiteral("it is not a regular file");
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
    return std::nullopt;
}

} // namespace drainwatch
