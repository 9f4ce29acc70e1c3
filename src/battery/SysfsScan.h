// SPDX-License-Identifier: MIT
#pragma once

#include "battery/SysfsSupply.h"
#include "measure/Clock.h"

#include <filesystem>
#include <string>
#include <vector>

namespace drainwatch::sysfs {

// The system's batteries and chargers in the folder, found again when one
// comes or goes: a supply that went away at once, a new one by a listing of
// the folder that differs from the last.
class SupplyScan {
public:
    SupplyScan(std::filesystem::path folder, const Clock& clock);

    void scan();
    void rescanIfDue();
    // The folder could be listed at the last scan.
    bool listed() const { return folderListed_; }

    std::vector<Supply> batteries;
    std::vector<Supply> lineSupplies;

private:
    std::vector<std::string> supplyNames(bool& listed) const;
    bool supplyGone() const;

    std::filesystem::path folder_;
    const Clock* clock_;
    // Every entry of the folder at the last scan, sorted: a change means a
    // supply came or went.
    std::vector<std::string> names_;
    bool folderListed_ = false;
    // A battery out of its bay at the last scan: its folder stays when it is put in.
    bool batteryOut_ = false;
    double lastLook_ = 0;
    // A supply left out of the last scan was gone while it was read.
    bool rescanDue_ = false;
};

} // namespace drainwatch::sysfs
