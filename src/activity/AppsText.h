// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Attribution.h"

#include <string>
#include <vector>

namespace drainwatch {

// What used the battery over a span, in the three forms `drainwatch --apps`
// prints. With a model that cannot tell yet, the applications' CPU time
// alone, their energy empty, and the model's words say why.
std::string appsTable(const PowerModel& model, const SpanActivity& span);
std::string appsJsonLines(const PowerModel& model, const SpanActivity& span);
std::string appsCsv(const PowerModel& model, const SpanActivity& span);

// The application that used the most energy over the span (the most CPU
// time while the model learns); empty where none ran.
std::string topApplication(const PowerModel& model, const SpanActivity& span);

// The names of at most count applications that used the most energy over
// the span (the most CPU time while the model learns), largest first.
std::vector<std::string> largestApplications(const PowerModel& model, const SpanActivity& span, std::size_t count);

// A name read from the machine, fit for one line of a terminal: no control
// characters, at most 40 characters.
std::string printableName(const std::string& name);

} // namespace drainwatch
