// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/HistoryReader.h"

#include <QImage>
#include <QString>

#include <string>

namespace drainwatch {

// The history file of this identity, read-only, beside the monitor that
// writes it (WAL). A missing file reads as no history.
HistoryReader historyFileReader(bool simulate);

// The graph of range (a name --range takes) drawn into an image of size, as
// the window draws it, with a row below for the key the window shows above it.
QImage graphImage(const HistoryReader& reader, const std::string& range, RateUnit unit, QSize size = {960, 360});

// `drainwatch --graph FILE`: the history read-only (none is an empty graph)
// into a PNG. Returns the exit code: 1 with a message where the file cannot
// be written.
int writeGraphFile(const std::string& file, const std::string& range, bool simulate);

} // namespace drainwatch
