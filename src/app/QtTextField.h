#pragma once

#include "monitor/MonitorServices.h"

class QLabel;

namespace drainwatch {

// A label of the window as the monitor's text outlet.
class QtTextField final : public TextField {
public:
    explicit QtTextField(QLabel* label) : label_(label) {}
    void setText(const std::string& text) override;

private:
    QLabel* label_;
};

} // namespace drainwatch
