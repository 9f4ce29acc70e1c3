// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace drainwatch {

using RegistryHandle = std::uint32_t;
using IOReturn = std::int32_t;

// The platform's own values, so that codes read the same everywhere.
inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnStillOpen = static_cast<IOReturn>(0xE00002CD);
inline constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xE00002F0);
// The answer to releasing a handle that was never given.
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xE00002C2);

// The registry's name for the battery service; every source answers to it.
inline constexpr std::string_view kBatteryServiceName = "AppleSmartBattery";

// A property as the registry holds it: a number, a truth value, or something
// else (text) that converts to none of them.
using RegistryProperty = std::variant<std::int64_t, double, bool, std::string>;

// Where battery properties come from: the three operations a reader needs.
class RegistrySource {
public:
    virtual ~RegistrySource() = default;
    // The handle of the first service of that name, 0 when there is none.
    virtual RegistryHandle matchingService(std::string_view serviceName) = 0;
    // One named property of one entry; nothing when absent or unreadable,
    // and always nothing for handle 0.
    virtual std::optional<RegistryProperty> property(RegistryHandle entry, std::string_view key) = 0;
    virtual IOReturn release(RegistryHandle entry) = 0;
};

} // namespace drainwatch
