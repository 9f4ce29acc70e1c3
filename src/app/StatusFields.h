#pragma once

#include "monitor/ViewController.h"

#include <array>

namespace drainwatch {

// The nine texts of the monitor in the order they are shown, with the caption
// a person reads and the outlet name that scripts read in the JSON output.
struct StatusField {
    const char* caption;
    const char* outlet;
    TextField* ViewController::*member;
};

inline constexpr std::array<StatusField, 9> kStatusFields = {{
    {"Awake on battery", "timeAwakeLabel", &ViewController::timeAwakeLabel},
    {"Total on battery", "timeOnBatteryLabel", &ViewController::timeOnBatteryLabel},
    {"Consumption", "consumptionLabel", &ViewController::consumptionLabel},
    {"Remaining", "plannedRuntimeLabel", &ViewController::plannedRuntimeLabel},
    {"Full battery", "totalRuntimeLabel", &ViewController::totalRuntimeLabel},
    {"Charge now", "currentChargeLabel", &ViewController::currentChargeLabel},
    {"Counting since", "countingSinceLabel", &ViewController::countingSinceLabel},
    {"Used in sleep", "usedInSleepLabel", &ViewController::usedInSleepLabel},
    {"Health", "healthLabel", &ViewController::healthLabel},
}};

} // namespace drainwatch
