// SPDX-License-Identifier: MIT
#pragma once

#include "history/HistoryRows.h"

#include <string>
#include <vector>

namespace drainwatch {

// One CSV field, quoted as RFC 4180 asks where it holds a comma, a quote or
// a line break.
std::string csvField(const std::string& value);
// The CSV of samples: the header line, then a line a sample, each written
// as it is read; times in ISO 8601 with the local offset, unknown figures
// empty.
std::string samplesCsvHeader();
std::string sampleCsvLine(const HistorySample& sample);
std::string dischargesCsv(const std::vector<DischargeRecord>& discharges);
// A column each figure, a line each discharge; nothing where there are none.
std::string dischargesTable(const std::vector<DischargeRecord>& discharges);

} // namespace drainwatch
