// SPDX-License-Identifier: MIT
#include "HistoryDays.h"

#include <string>

namespace drainwatch::test {

namespace {

constexpr double kHour = 3600;
constexpr double kFullMAh = 5000;

class Recorder {
public:
    Recorder(HistoryDay& day, double time, double charge) : day_(day), time_(time), charge_(charge) {}

    // Minutes of ticks at ratePerHour (%/h, below 0 on the charger).
    void run(double hours, double ratePerHour, bool onCharger)
    {
        const int minutes = static_cast<int>(hours * 60);
        for (int i = 0; i < minutes; ++i) {
            add("", ratePerHour, onCharger);
            time_ += 60;
            charge_ -= ratePerHour / 100 / 60;
        }
    }
    void event(const std::string& name, bool onCharger = false) { add(name, 0, onCharger); }
    // A sleep from now: "will sleep", then "wake" hours later.
    void sleep(double hours, double used)
    {
        event("will sleep");
        day_.sleeps.push_back({time_, time_ + hours * kHour});
        time_ += hours * kHour;
        charge_ -= used;
        event("wake");
    }
    // Not running: "quit", then "start" hours later.
    void away(double hours, double used)
    {
        event("quit");
        time_ += hours * kHour;
        charge_ -= used;
        event("start");
    }
    double time() const { return time_; }

private:
    void add(const std::string& name, double ratePerHour, bool onCharger)
    {
        HistorySample sample;
        sample.time = time_;
        sample.charge = charge_;
        if (!onCharger && ratePerHour > 0)
            sample.currentMA = ratePerHour * kFullMAh / 100;
        sample.onExternalPower = onCharger;
        sample.volts = 11.8;
        sample.fullMAh = kFullMAh;
        sample.designMAh = 5500;
        sample.cycles = 120;
        sample.event = name;
        day_.samples.push_back(sample);
    }

    HistoryDay& day_;
    double time_;
    double charge_;
};

} // namespace

HistoryDay dayWithTwoSleepsAndACharge(double start)
{
    HistoryDay day;
    Recorder r(day, start, 0.80);
    r.sleep(7, 0.04);
    r.run(5, 8, false);
    r.event("charger connected", true);
    r.run(1.5, -40, true);
    r.event("charger disconnected");
    r.run(1.5, 8, false);
    r.away(2, 0.04);
    r.run(3, 8, false);
    r.sleep(2, 0.01);
    r.run(2, 8, false);
    return day;
}

HistoryDay routineDays(double start, int days)
{
    HistoryDay history;
    Recorder r(history, start, 0.55);
    for (int d = 0; d < days; ++d) {
        r.sleep(1, 0.01);
        r.event("charger connected", true);
        r.run(2, -18.5, true);
        r.event("charger disconnected");
        r.run(15, 2, false);
        r.run(6, 1, false);
    }
    return history;
}

} // namespace drainwatch::test
