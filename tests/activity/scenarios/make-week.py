#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Writes 34-apps-week.scn: a week awake on battery by day, asleep by night,
# three applications and the screen, the battery's power following
#   W = 4 + 9 × cores busy + 3.5 × brightness, plus noise of σ 0.3 W,
# and prints the law's own shares, to hold the fitted ones against.
import random

random.seed(20261211)
VOLTS = 12.0
BASE, CPU, SCREEN = 4.0, 9.0, 3.5
lines = [
    "# A week on battery: by day three applications and the screen at varying",
    "# brightness, the battery's power following 4 W + 9 W a core busy + 3.5 W at",
    "# full brightness with noise; by night asleep. Written by make-week.py.",
    "battery DesignCapacity=6000 MaxCapacity=5400 CurrentCapacity=4000 Amperage=-500 Voltage=12000 "
    "ExternalConnected=false",
    "launch",
]
energy = {"Firefox": 0.0, "Builder": 0.0, "Editor": 0.0, "screen": 0.0, "base": 0.0}
for day in range(7):
    awake = 0
    while awake < 10 * 3600:
        minutes = random.randint(4, 20)
        rates = {
            "Firefox": random.choice([0, 0.2, 0.5, 1.0, 1.5]),
            "Builder": random.choice([0, 0, 2.0, 3.0]) if day in (2, 3) else 0,
            "Editor": random.choice([0.05, 0.1, 0.2]),
        }
        brightness = random.choice([0, 0.3, 0.5, 0.7, 1.0])
        noise = random.gauss(0, 0.3)
        watts = BASE + CPU * sum(rates.values()) + SCREEN * brightness + noise
        for name, rate in rates.items():
            lines.append(f"app {name} cpu={rate:g}")
            energy[name] += CPU * rate * minutes / 60
        lines.append(f"screen brightness={brightness:g}")
        energy["screen"] += SCREEN * brightness * minutes / 60
        energy["base"] += BASE * minutes / 60
        lines.append(f"battery Amperage={-round(watts / VOLTS * 1000)}")
        lines.append(f"advance {minutes * 60}")
        awake += minutes * 60
    if day == 0:
        lines += ["# The first day ends: learned by now.", "model"]
    lines += ["sleep", "suspend 50400", "wake"]
lines += ["apps", "model", "quit"]
open("34-apps-week.scn", "w").write("\n".join(lines) + "\n")
total = sum(energy.values())
for name, wh in energy.items():
    print(f"{name}: {wh:.3f} Wh, share {wh / total:.3f}")
