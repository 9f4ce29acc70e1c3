// SPDX-License-Identifier: MIT
#include "platform/Diagnostic.h"

#include <cstdio>

namespace drainwatch {

void printDiagnostic(const QString& message)
{
    // One write per line, so lines of several sources never interleave.
    const QByteArray line = QStringLiteral("Drainwatch: %1\n").arg(message).toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace drainwatch
