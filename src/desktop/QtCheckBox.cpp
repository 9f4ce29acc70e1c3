// SPDX-License-Identifier: MIT
#include "desktop/QtCheckBox.h"

#include <QCheckBox>

namespace drainwatch {

bool QtCheckBox::isChecked() const { return box_->isChecked(); }

} // namespace drainwatch
