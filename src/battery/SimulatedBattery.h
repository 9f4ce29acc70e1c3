// SPDX-License-Identifier: MIT
#pragma once

#include "battery/RegistrySource.h"
#include "measure/Clock.h"
#include "measure/PreferenceStore.h"

namespace drainwatch {

// A laptop battery that discharges in real time, for trying the program on a
// machine without one: about 5000 mAh full, starting at 85 %, drawing a
// current that swings slowly between 900 and 1400 mA. The charge follows the
// current drawn since the last reading; a jump of the wall clock counts as a
// sleep at a small current. Near empty a charger is plugged in until the
// battery is almost full again, so a long run never ends at 0 %.
//
// Given a store, it keeps its charge there beside the monitor's counters and
// starts from it the next time, the time between the two runs counting as a
// sleep: a count that goes on across restarts sees the battery it left.
class SimulatedBattery final : public RegistrySource {
public:
    static constexpr double kFullMAh = 5000;
    static constexpr double kDesignMAh = 5200;
    static constexpr double kStartCharge = 0.85;

    explicit SimulatedBattery(const Clock& clock, PreferenceStore* store = nullptr);

    RegistryHandle matchingService(std::string_view serviceName) override;
    std::optional<RegistryProperty> property(RegistryHandle entry, std::string_view key) override;
    IOReturn release(RegistryHandle entry) override;

    // The current the simulated machine draws while awake, seconds after start.
    static double awakeCurrentMA(double secondsSinceStart);

private:
    void advance();
    double dischargedMAh(double from, double to) const;

    const Clock& clock_;
    PreferenceStore* store_;
    double start_;
    double last_;
    double chargeMAh_ = kFullMAh * kStartCharge;
    double currentMA_;
    bool charging_ = false;
};

} // namespace drainwatch
