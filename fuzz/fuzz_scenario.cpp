// SPDX-License-Identifier: MIT
// The simulator's scenario language: any text. A line it cannot run is a
// ScenarioError naming the line; anything else (a crash, a hang, another
// exception) is a fault.
#include "FuzzSupport.h"
#include "log/Logger.h"
#include "sim/Simulator.h"

#include <charconv>
#include <sstream>

using namespace drainwatch;

namespace {

// A scenario may ask for years of ticks, which takes long but is no fault:
// inputs that advance more than two simulated hours in all are passed over.
bool asksForLongRun(const std::string& text)
{
    std::istringstream lines(text);
    double seconds = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string command, amount;
        if (!(words >> command >> amount) || command != "advance")
            continue;
        double value = 0;
        const auto [end, error] = std::from_chars(amount.data(), amount.data() + amount.size(), value);
        if (error == std::errc() && value > 0)
            seconds += value;
    }
    return seconds > 7200;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::filesystem::path folder = drainwatch::fuzz::scratchFolder("scenario");
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (asksForLongRun(text))
        return 0;
    std::istringstream scenario(text);
    std::ostringstream out;
    sim::Simulator simulator(out);
    // The log is stamped with the virtual clock, as drainwatch-sim does it.
    Logger::installMain(std::make_unique<Logger>(folder / "log", simulator.clock(), false));
    try {
        simulator.run(scenario);
    } catch (const sim::ScenarioError& error) {
        if (std::string_view(error.what()).substr(0, 5) != "line ")
            drainwatch::fuzz::fail("a scenario error does not name its line");
    }
    std::filesystem::remove(folder / "log");
    return 0;
}
