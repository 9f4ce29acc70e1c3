// SPDX-License-Identifier: MIT
#pragma once

#include "measure/PreferenceStore.h"

#include <QString>
#include <QVariant>

#include <map>
#include <optional>
#include <set>

namespace drainwatch {

// The per-user store: an INI file read through QSettings. Values are held in
// memory and written whole by synchronize(), through a temporary file and a
// rename, so a crash mid-save leaves the old or the new file, never a mix.
// Numbers are stored as text that reads back bit for bit.
class QSettingsPreferenceStore final : public PreferenceStore {
public:
    explicit QSettingsPreferenceStore(const QString& fileName = QStringLiteral("Drainwatch.conf"));
    ~QSettingsPreferenceStore() override;

    // $XDG_CONFIG_HOME, else ~/.config (the password database's home when
    // $HOME is unset); /.config, where a save fails and says so, without
    // any home.
    static QString configFolder();
    // <configFolder>/Drainwatch/<fileName>
    static QString defaultPath(const QString& fileName);
    const QString& path() const { return path_; }

    double doubleForKey(const std::string& key) const override;
    void setDouble(double value, const std::string& key) override;
    std::int64_t integerForKey(const std::string& key) const override;
    void setInteger(std::int64_t value, const std::string& key) override;
    void synchronize() override;

private:
    void clearLeftovers() const;
    static bool holdsOnlySettings(const QString& path);
    void load();
    QString setAside() const;
    std::optional<QString> text(const std::string& key) const;
    void reportUnreadable(const std::string& key, const QString& text) const;
    QString whyNotWritable(int statusBefore) const;
    std::optional<QString> writeProblem() const;

    QString path_;
    std::map<std::string, QVariant> values_;
    bool dirty_ = false;
    bool failureReported_ = false;
    bool irregular_ = false;
    mutable std::set<std::string> reportedKeys_;
};

} // namespace drainwatch
