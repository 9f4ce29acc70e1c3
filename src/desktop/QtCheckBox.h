// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/MonitorServices.h"

class QCheckBox;

namespace drainwatch {

// The window's check box as the monitor's check box outlet.
class QtCheckBox final : public CheckBox {
public:
    explicit QtCheckBox(QCheckBox* box) : box_(box) {}
    bool isChecked() const override;

private:
    QCheckBox* box_;
};

} // namespace drainwatch
