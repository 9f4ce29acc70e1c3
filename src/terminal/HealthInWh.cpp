// SPDX-License-Identifier: MIT
#include "terminal/HealthInWh.h"

#include <cmath>

#include <fmt/format.h>

namespace drainwatch {

const std::string& HealthInWh::operator()(const std::string& text)
{
    if (done_ && text == text_)
        return shown_;
    done_ = true;
    text_ = shown_ = text;
    // Only a text with figures in it: "(unknown)" stays.
    if (!read_ || text.find("mAh") == std::string::npos)
        return shown_;
    const auto energy = read_();
    if (energy && energy->designWh > 0 && std::isfinite(energy->fullWh / energy->designWh))
        shown_ = fmt::format("{:.1f}% ({:.1f}Wh of {:.1f}Wh)", energy->fullWh / energy->designWh * 100, energy->fullWh,
                             energy->designWh);
    return shown_;
}

} // namespace drainwatch
