// SPDX-License-Identifier: MIT
#include "sleep/WakeSourceNames.h"

#include <cctype>
#include <fstream>
#include <string_view>

namespace drainwatch {

namespace {

struct Known {
    std::string_view id;
    std::string_view words;
};

// ACPI hardware IDs, the part of a wakeup source's name before ':'.
constexpr Known kAcpiIds[] = {
    {"PNP0C0D", "lid"},
    {"PNP0C0C", "power button"},
    {"PNP0C0E", "sleep button"},
    {"ACPI0003", "charger"},
    {"PNP0C0A", "battery"},
    {"PNP0C09", "embedded controller"},
    {"PNP0B00", "real-time clock"},
    {"ACPI000E", "wake alarm"},
    {"PNP0303", "keyboard"},
    {"PNP030B", "keyboard"},
    {"INT33D5", "Intel HID buttons"},
    {"INTC1070", "Intel HID buttons"},
    {"AMDI0010", "I2C controller (touchpad)"},
    {"INT33C3", "I2C controller (touchpad)"},
    {"PNP0C0B", "fan"},
};

// Interrupt handlers as /sys/kernel/irq/N/actions names them, and wakeup
// sources named after a driver.
constexpr Known kHandlers[] = {
    {"acpi", "ACPI event (lid, buttons, charger)"},
    {"i8042", "keyboard"},
    {"serio0", "keyboard"},
    {"xhci_hcd", "USB controller"},
    {"pinctrl_amd", "GPIO (lid, touchpad)"},
    {"rtc0", "real-time clock"},
    {"alarmtimer", "alarm timer (a scheduled wake)"},
};

// PCI class codes, the first four hex digits of the device's class file.
constexpr Known kPciClasses[] = {
    {"0c03", "USB controller"},
    {"0280", "wireless network adapter"},
    {"0200", "network adapter"},
    {"0403", "audio device"},
    {"0108", "NVMe drive"},
    {"0c80", "Thunderbolt controller"},
    {"0c0a", "Thunderbolt controller"},
    {"0300", "graphics"},
    {"0604", "PCI bridge"},
};

std::optional<std::string_view> lookUp(std::string_view id, const auto& table)
{
    for (const auto& known : table)
        if (known.id == id)
            return known.words;
    return std::nullopt;
}

// "0000:00:14.0"
bool isPciAddress(const std::string& id)
{
    if (id.size() != 12 || id[4] != ':' || id[7] != ':' || id[10] != '.')
        return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11})
        if (!std::isxdigit(static_cast<unsigned char>(id[i])))
            return false;
    return true;
}

// "0x0c0330" -> "0c03"
std::optional<std::string> pciClass(const std::filesystem::path& device)
{
    std::ifstream file(device / "class");
    std::string text;
    if (!(file >> text) || text.size() < 6 || !text.starts_with("0x"))
        return std::nullopt;
    return text.substr(2, 4);
}

} // namespace

WakeSourceName wakeSourceName(const std::string& id, const std::filesystem::path& sysRoot)
{
    if (const auto words = lookUp(id, kHandlers))
        return {std::string(*words), std::nullopt};
    if (id.starts_with("alarmtimer"))
        return {"alarm timer (a scheduled wake)", std::nullopt};
    if (const auto words = lookUp(std::string_view(id).substr(0, id.find(':')), kAcpiIds))
        return {std::string(*words), std::string("/proc/acpi/wakeup")};
    if (isPciAddress(id)) {
        const auto device = sysRoot / "bus" / "pci" / "devices" / id;
        const auto code = pciClass(device);
        const auto words = code ? lookUp(*code, kPciClasses) : std::nullopt;
        return {words ? std::string(*words) : "PCI device", "/sys/bus/pci/devices/" + id + "/power/wakeup"};
    }
    // "usb1", "1-2", "1-2.3": the USB bus's own names.
    if (id.starts_with("usb") || (!id.empty() && std::isdigit(static_cast<unsigned char>(id[0])) &&
                                  id.find('-') != std::string::npos && id.find(' ') == std::string::npos))
        return {"USB device", "/sys/bus/usb/devices/" + id + "/power/wakeup"};
    return {id, std::nullopt};
}

std::string wakeSourceText(const std::string& id, const std::filesystem::path& sysRoot)
{
    const std::string words = wakeSourceName(id, sysRoot).words;
    return words == id ? id : words + " (" + id + ")";
}

} // namespace drainwatch
