#include "app/QtTextField.h"

#include <QLabel>

namespace drainwatch {

void QtTextField::setText(const std::string& text) { label_->setText(QString::fromStdString(text)); }

} // namespace drainwatch
