// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace drainwatch {

// What woke a sleep, as its owner knows it: "lid", "USB controller",
// "power button", from an ACPI ID, an interrupt's handler, a wakeup source's
// name or a PCI device's class.
struct WakeSourceName {
    std::string words;                 // "USB controller"; the ID itself where none is known
    std::optional<std::string> wakeup; // the file that turns its wakeup off, where there is one
};

// Names a record's wokenBy entry. sysRoot stands for /sys: a PCI address is
// named by its device's class there.
WakeSourceName wakeSourceName(const std::string& id, const std::filesystem::path& sysRoot);

// "lid (PNP0C0D:00)"; the ID alone where it has no other name.
std::string wakeSourceText(const std::string& id, const std::filesystem::path& sysRoot);

} // namespace drainwatch
