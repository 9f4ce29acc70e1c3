// SPDX-License-Identifier: MIT
#include "desktop/HistoryReader.h"

#include <QDateTime>

namespace drainwatch {

double readerNow(const HistoryReader& reader)
{
    return reader.now ? reader.now() : static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
}

} // namespace drainwatch
