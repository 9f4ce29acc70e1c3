// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/MonitorServices.h"

#include <functional>

class QLabel;

namespace drainwatch {

// A label of the window as the monitor's text outlet.
class QtTextField final : public TextField {
public:
    explicit QtTextField(QLabel* label) : label_(label) {}
    void setText(const std::string& text) override;

    // What the label shows for the monitor's text, when not the text itself.
    std::function<std::string(const std::string&)> shown;

private:
    QLabel* label_;
};

} // namespace drainwatch
