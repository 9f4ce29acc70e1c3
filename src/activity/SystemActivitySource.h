// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Activity.h"
#include "activity/ProcessGroups.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace drainwatch {

// The machine's activity from /sys and /proc, without root. Applications
// are the units under the user manager's app.slice (cgroup v2), one key per
// desktop ID ("app:ID"); where there are none (cgroup v1, or a window
// manager started from a terminal), the user's processes by executable
// name. system.slice is "System services" (key "system"); the user
// manager's other units and the login session scopes are "Desktop session"
// (key "session"), less the processes counted by name.
class SystemActivitySource : public ActivitySource {
public:
    SystemActivitySource(std::filesystem::path sysDir, std::filesystem::path procDir,
                         std::vector<std::filesystem::path> dataDirs);
    // For a recorded tree of another user.
    SystemActivitySource(std::filesystem::path sysDir, std::filesystem::path procDir,
                         std::vector<std::filesystem::path> dataDirs, unsigned uid);
    ActivitySnapshot read() override;

    // $XDG_DATA_HOME (else ~/.local/share), then $XDG_DATA_DIRS (else
    // /usr/local/share and /usr/share): where .desktop files are.
    static std::vector<std::filesystem::path> defaultDataDirs();

private:
    struct Usage {
        std::optional<double> seconds = 0.0;
        void add(std::optional<double> more);
    };
    void readAppSlice(const std::filesystem::path& slice, std::map<std::string, Usage>& apps, Usage& session);
    ActivityCounter named(const std::string& desktopId);

    std::filesystem::path sysDir_;
    std::filesystem::path procDir_;
    std::vector<std::filesystem::path> dataDirs_;
    unsigned uid_;
    ProcessGroups processes_;
    std::map<std::string, ActivityCounter> names_;
};

} // namespace drainwatch
