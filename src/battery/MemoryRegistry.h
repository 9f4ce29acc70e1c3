// SPDX-License-Identifier: MIT
#pragma once

#include "battery/RegistrySource.h"

#include <map>
#include <string>

namespace drainwatch {

// A battery service held in memory: the simulator's scripted battery and the
// tests' fake. Its one entry always exists; it answers what was set.
class MemoryRegistry final : public RegistrySource {
public:
    static constexpr RegistryHandle kEntry = 1;

    RegistryHandle matchingService(std::string_view serviceName) override;
    std::optional<RegistryProperty> property(RegistryHandle entry, std::string_view key) override;
    IOReturn release(RegistryHandle entry) override;

    void set(const std::string& key, RegistryProperty value) { properties_[key] = std::move(value); }
    void remove(const std::string& key) { properties_.erase(key); }
    void clear() { properties_.clear(); }

    int reads = 0;
    int releases = 0;

private:
    std::map<std::string, RegistryProperty, std::less<>> properties_;
};

} // namespace drainwatch
