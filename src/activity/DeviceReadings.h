// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>

namespace drainwatch {

// 0..1 of the internal panel's backlight, 0 while the panel is off. Of
// several backlights the kernel's own advice is taken: firmware, then
// platform, then raw. The panel is off where an eDP connector says so
// (dpms "Off", enabled "disabled") or bl_power is not 0.
std::optional<double> readBrightness(const std::filesystem::path& sysDir);

// 0..1 busy of the first GPU that says (amdgpu's gpu_busy_percent).
std::optional<double> readGpuBusy(const std::filesystem::path& sysDir);

// Bytes received and sent by every interface but lo since boot.
std::optional<double> readNetworkBytes(const std::filesystem::path& sysDir);

} // namespace drainwatch
