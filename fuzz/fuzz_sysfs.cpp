// SPDX-License-Identifier: MIT
// A /sys/class/power_supply folder made from the input: up to four supplies
// with any of the attributes the reader asks for, each one a file of any
// bytes (empty, NUL, not UTF-8, longer than a page), a folder, a FIFO,
// /dev/zero or a dangling link. The reader must give values or nothing,
// never crash, hang, or hand the monitor an infinity or a NaN.
#include "FuzzSupport.h"
#include "battery/BatteryListener.h"
#include "battery/SysfsRegistry.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <fstream>
#include <string_view>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace drainwatch;

namespace {

constexpr std::array<std::string_view, 22> kAttributes = {"type",
                                                          "scope",
                                                          "present",
                                                          "status",
                                                          "online",
                                                          "charge_now",
                                                          "charge_full",
                                                          "charge_full_design",
                                                          "energy_now",
                                                          "energy_full",
                                                          "energy_full_design",
                                                          "voltage_now",
                                                          "voltage_min_design",
                                                          "current_now",
                                                          "power_now",
                                                          "time_to_empty_now",
                                                          "time_to_full_now",
                                                          "cycle_count",
                                                          "temp",
                                                          "capacity",
                                                          "model_name",
                                                          "manufacturer"};

// What a driver prints, so that the fuzzer starts from readings that parse.
constexpr std::array<std::string_view, 20> kValues = {"Battery\n",
                                                      "Mains\n",
                                                      "USB\n",
                                                      "USB_PD\n",
                                                      "Device\n",
                                                      "System\n",
                                                      "1\n",
                                                      "0\n",
                                                      "Charging\n",
                                                      "Discharging\n",
                                                      "Full\n",
                                                      "Not charging\n",
                                                      "Unknown\n",
                                                      "5000000\n",
                                                      "-1250000\n",
                                                      "12000000\n",
                                                      "9223372036854775807\n",
                                                      "-9223372036854775808\n",
                                                      "2\n",
                                                      "305\n"};

constexpr std::array<std::string_view, 6> kSupplyNames = {
    "BAT0", "BAT1", "AC", "ADP1", "ucsi-source-psy-USBC000:001", "hidpp_battery_0"};

void writeFile(const fs::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void makeAttribute(FuzzedDataProvider& input, const fs::path& path)
{
    std::error_code ignored;
    switch (input.ConsumeIntegralInRange(0, 9)) {
    case 0:
    case 1:
        writeFile(path, kValues[input.ConsumeIntegralInRange<std::size_t>(0, kValues.size() - 1)]);
        break;
    case 2:
    case 3:
        writeFile(path, input.ConsumeRandomLengthString(160));
        break;
    case 4:
        writeFile(path, "");
        break;
    case 5: // longer than any value: a page and more of one byte
        writeFile(path,
                  std::string(input.ConsumeIntegralInRange<std::size_t>(128, 9000), input.ConsumeIntegral<char>()));
        break;
    case 6:
        fs::create_directory(path, ignored);
        break;
    case 7:
        ::mkfifo(path.c_str(), 0600);
        break;
    case 8:
        fs::create_symlink("/dev/zero", path, ignored);
        break;
    case 9:
        fs::create_symlink("nowhere", path, ignored);
        break;
    }
}

void makeSupply(FuzzedDataProvider& input, const fs::path& root)
{
    std::string name =
        input.ConsumeBool()
            ? std::string(kSupplyNames[input.ConsumeIntegralInRange<std::size_t>(0, kSupplyNames.size() - 1)])
            : input.ConsumeRandomLengthString(16);
    for (char& c : name)
        if (c == '/' || c == '\0')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "BAT9";
    const fs::path folder = root / name;
    std::error_code ignored;
    // Made afresh: writing into a FIFO left by the last layout would block.
    fs::remove_all(folder, ignored);
    switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0: // a supply that is a file, or a link to nowhere
        writeFile(folder, "x");
        return;
    case 1:
        fs::create_symlink("gone", folder, ignored);
        return;
    default:
        break;
    }
    fs::create_directory(folder, ignored);
    for (const std::string_view attribute : kAttributes)
        if (input.ConsumeBool())
            makeAttribute(input, folder / attribute);
}

void expectSane(std::optional<double> value)
{
    if (value && !std::isfinite(*value))
        drainwatch::fuzz::fail("a metric is not finite");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fs::path root = drainwatch::fuzz::scratchFolder("sysfs");
    FuzzedDataProvider input(data, size);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root))
        fs::remove_all(entry.path(), ignored);
    const int supplies = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < supplies; ++i)
        makeSupply(input, root);

    drainwatch::fuzz::ManualClock clock;
    SysfsRegistry registry(root, clock);
    BatteryListener listener(registry);
    // A few ticks, the later ones after a supply may have changed or gone:
    // the derived rate needs two readings, a vanished battery a rescan.
    for (int tick = 0; tick < 3; ++tick) {
        expectSane(listener.amperage());
        expectSane(listener.chargePercentage());
        expectSane(listener.designCapacityMAh());
        expectSane(listener.healthPercentage());
        expectSane(listener.maxCapacityMAh());
        expectSane(listener.voltage());
        expectSane(listener.powerVoltage());
        listener.isCharging();
        expectSane(listener.batt.temperature());
        listener.batt.timeRemainingFormatted();
        listener.batt.cycleCount();
        listener.batt.isCharged();
        clock.time += input.ConsumeIntegralInRange(0, 40);
        switch (input.ConsumeIntegralInRange(0, 2)) {
        case 1:
            makeSupply(input, root);
            break;
        case 2: // swapped out, or its driver unloaded
            for (const auto& entry : fs::directory_iterator(root)) {
                fs::remove_all(entry.path(), ignored);
                break;
            }
            break;
        }
    }
    return 0;
}
