#pragma once

#include <QIcon>

#include <optional>

namespace drainwatch {

// A battery glyph filled to the charge (a fraction), drawn in code so that no
// image plugin is needed. Empty when the charge is unknown.
QIcon batteryIcon(std::optional<double> charge);

} // namespace drainwatch
