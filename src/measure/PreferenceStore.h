// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace drainwatch {

// A flat per-user store of typed values under string keys. A key that was
// never set reads as zero, which every caller takes as its empty state.
class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;
    virtual double doubleForKey(const std::string& key) const = 0;
    virtual void setDouble(double value, const std::string& key) = 0;
    virtual std::int64_t integerForKey(const std::string& key) const = 0;
    virtual void setInteger(std::int64_t value, const std::string& key) = 0;
    // Puts what was set on disk: the machine may suspend or lose power right
    // after a save. A store in memory has nothing to do.
    virtual void synchronize() {}
};

} // namespace drainwatch
