// SPDX-License-Identifier: MIT
#pragma once

#include "battery/SysfsSupply.h"
#include "measure/Clock.h"

#include <functional>
#include <optional>
#include <vector>

// The rate a battery gives or takes: its current or power where the driver
// reports one, else the trend of what it counts.
namespace drainwatch::sysfs {

// Whether a charger is connected, asked only when a battery's status does not say.
using ExternalPower = std::function<std::optional<bool>()>;

// µW, positive while charging.
std::optional<double> power(Supply& battery, const Clock& clock, const ExternalPower& external);
std::optional<double> totalPower(std::vector<Supply>& batteries, const Clock& clock, const ExternalPower& external);
std::optional<double> minutesRemaining(std::vector<Supply>& batteries, const Clock& clock,
                                       const ExternalPower& external);
// mV at which the keys' mA are the power that flows.
std::optional<double> powerVoltage(std::vector<Supply>& batteries, const Clock& clock, const ExternalPower& external);

} // namespace drainwatch::sysfs
