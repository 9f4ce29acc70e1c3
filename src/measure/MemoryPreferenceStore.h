// SPDX-License-Identifier: MIT
#pragma once

#include "measure/PreferenceStore.h"

#include <map>
#include <variant>

namespace drainwatch {

// The store for tests and the simulator.
class MemoryPreferenceStore final : public PreferenceStore {
public:
    using Value = std::variant<double, std::int64_t>;

    double doubleForKey(const std::string& key) const override;
    void setDouble(double value, const std::string& key) override { values_[key] = value; }
    std::int64_t integerForKey(const std::string& key) const override;
    void setInteger(std::int64_t value, const std::string& key) override { values_[key] = value; }

    // In byte order of the keys.
    const std::map<std::string, Value>& entries() const { return values_; }

private:
    std::map<std::string, Value> values_;
};

} // namespace drainwatch
