// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace drainwatch {

// One line on standard error, "Drainwatch: " first: the only channel for
// trouble that must not stop the monitor.
void printDiagnostic(const QString& message);

} // namespace drainwatch
