// SPDX-License-Identifier: MIT
#pragma once

#include "battery/SysfsRegistry.h"

#include <functional>
#include <optional>
#include <string>

namespace drainwatch {

// The health text as the window and the terminal show it: in watt-hours for
// batteries that count in energy, whose mAh are only a conversion at the
// design voltage. The monitor's own text (the log's, the JSON's) stays in
// mAh. The capacities are read again only when that text changes.
class HealthInWh {
public:
    using Reader = std::function<std::optional<EnergyCapacity>()>;

    explicit HealthInWh(Reader read = {}) : read_(std::move(read)) {}

    // "96.2% (43.1Wh of 44.8Wh)" for the monitor's "96.2% (3991mAh of
    // 4148mAh)"; the text itself without a reader, an energy battery or a
    // known health.
    const std::string& operator()(const std::string& text);

private:
    Reader read_;
    std::string text_;
    std::string shown_;
    bool done_ = false;
};

} // namespace drainwatch
