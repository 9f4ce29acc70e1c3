// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/ViewController.h"

#include <array>

namespace drainwatch {

// The nine texts of the monitor in the order they are shown, with the caption
// a person reads, the outlet name that scripts read in the JSON output, and
// what the figure is, as the README's table says it (the captions' tooltips).
struct StatusField {
    const char* caption;
    const char* outlet;
    TextField* ViewController::*member;
    const char* meaning;
};

inline constexpr std::array<StatusField, 9> kStatusFields = {{
    {"Awake on battery", "timeAwakeLabel", &ViewController::timeAwakeLabel,
     "time awake on battery since the charger was last unplugged (sleep left out)"},
    {"Total on battery", "timeOnBatteryLabel", &ViewController::timeOnBatteryLabel,
     "time on battery since the charger was last unplugged, sleep included"},
    {"Consumption", "consumptionLabel", &ViewController::consumptionLabel,
     "rate of use now, over the last 96 samples (8 minutes) and since unplugging, in percent of the full charge per "
     "hour (or watts, with \"Show watts\")"},
    {"Remaining", "plannedRuntimeLabel", &ViewController::plannedRuntimeLabel,
     "time left at the current charge, at the rate seen awake since unplugging"},
    {"Full battery", "totalRuntimeLabel", &ViewController::totalRuntimeLabel,
     "how long a full battery lasts at that rate"},
    {"Charge now", "currentChargeLabel", &ViewController::currentChargeLabel,
     "charge in percent of the full-charge capacity"},
    {"Counting since", "countingSinceLabel", &ViewController::countingSinceLabel, "charge at which the count began"},
    {"Used in sleep", "usedInSleepLabel", &ViewController::usedInSleepLabel,
     "charge lost while the laptop slept (or Drainwatch was not running)"},
    {"Health", "healthLabel", &ViewController::healthLabel,
     "full-charge capacity against the design capacity (in Wh for a battery that reports energy)"},
}};

} // namespace drainwatch
