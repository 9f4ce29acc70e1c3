// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace drainwatch::fuzz {

// Every fuzz run works in one folder of its own, on tmpfs where there is one:
// each input writes files, and a disk would make that the slow part.
inline std::filesystem::path scratchFolder(const char* name)
{
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::filesystem::path folder = base / (std::string("drainwatch-fuzz-") + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

class ManualClock final : public Clock {
public:
    double now() const override { return time; }
    double time = 1800000000.0;
};

// A broken promise of the code under test: libFuzzer records the input.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

} // namespace drainwatch::fuzz
