// SPDX-License-Identifier: MIT
#pragma once

#include "activity/Attribution.h"
#include "desktop/HistoryReader.h"
#include "desktop/RecordTable.h"

#include <optional>

class QComboBox;
class QLabel;

namespace drainwatch {

enum class AppsSpan { LastHour, SinceUnplugging, Today, SevenDays };

// Where a span begins: none since unplugging while on AC.
std::optional<double> appsSpanStart(AppsSpan span, double now, std::optional<double> unpluggedAt);

// What used the battery while awake on battery over a chosen span: one row
// an application, then the screen, the base and what the model leaves
// unexplained; the model's quality in one line below. While the model
// learns, the applications' CPU time alone.
class AppsPane : public RecordTable {
    Q_OBJECT
public:
    explicit AppsPane(QWidget* parent = nullptr);

    AppsSpan chosenSpan() const;
    void refresh(const HistoryReader& reader);

signals:
    void spanChanged();

private:
    void showRows(const PowerModel& model, const SpanActivity& span);

    QComboBox* spanChoice_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* quality_ = nullptr;
};

} // namespace drainwatch
