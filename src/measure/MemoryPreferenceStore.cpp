// SPDX-License-Identifier: MIT
#include "measure/MemoryPreferenceStore.h"

namespace drainwatch {

// A value stored as the other type converts, as the platform stores do.
double MemoryPreferenceStore::doubleForKey(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return 0.0;
    return std::visit([](auto v) { return static_cast<double>(v); }, found->second);
}

std::int64_t MemoryPreferenceStore::integerForKey(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return 0;
    if (const auto* d = std::get_if<double>(&found->second))
        return *d >= -9.2e18 && *d <= 9.2e18 ? static_cast<std::int64_t>(*d) : 0;
    return std::get<std::int64_t>(found->second);
}

} // namespace drainwatch
