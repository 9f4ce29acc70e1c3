// SPDX-License-Identifier: MIT
#include "battery/MemoryRegistry.h"

namespace drainwatch {

RegistryHandle MemoryRegistry::matchingService(std::string_view serviceName)
{
    return serviceName == kBatteryServiceName ? kEntry : 0;
}

std::optional<RegistryProperty> MemoryRegistry::property(RegistryHandle entry, std::string_view key)
{
    ++reads;
    if (entry != kEntry)
        return std::nullopt;
    const auto found = properties_.find(key);
    if (found == properties_.end())
        return std::nullopt;
    return found->second;
}

IOReturn MemoryRegistry::release(RegistryHandle entry)
{
    ++releases;
    // The kernel's answer to releasing nothing.
    return entry == kEntry ? kIOReturnSuccess : kIOReturnBadArgument;
}

} // namespace drainwatch
