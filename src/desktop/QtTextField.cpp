// SPDX-License-Identifier: MIT
#include "desktop/QtTextField.h"

#include <QLabel>

namespace drainwatch {

void QtTextField::setText(const std::string& text)
{
    label_->setText(QString::fromStdString(shown ? shown(text) : text));
}

} // namespace drainwatch
