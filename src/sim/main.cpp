// SPDX-License-Identifier: MIT
// drainwatch-sim --log FILE SCENARIO: what would Drainwatch show if...
#include "log/Logger.h"
#include "sim/Simulator.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

using namespace drainwatch;

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--log") != 0) {
        std::cerr << "usage: drainwatch-sim --log FILE SCENARIO   (SCENARIO - reads standard input)\n";
        return 2;
    }
    std::ifstream file;
    std::istream* scenario = &std::cin;
    if (std::strcmp(argv[3], "-") != 0) {
        file.open(argv[3]);
        if (!file) {
            std::cerr << "drainwatch-sim: cannot read " << argv[3] << ": " << std::strerror(errno) << '\n';
            return 2;
        }
        scenario = &file;
    }

    sim::Simulator simulator(std::cout);
    // The log is stamped with the virtual clock, through the real logger.
    Logger::installMain(std::make_unique<Logger>(argv[2], simulator.clock(), false));
    try {
        simulator.run(*scenario);
    } catch (const sim::ScenarioError& error) {
        std::cout.flush();
        std::cerr << error.what() << '\n';
        return 2;
    }
    // A full disk or a closed pipe must not pass for a finished run.
    if (!std::cout.flush()) {
        std::cerr << "drainwatch-sim: cannot write the output: " << std::strerror(errno) << '\n';
        return 1;
    }
    return 0;
}
