# SPDX-License-Identifier: MIT
"""drainwatch --help and drainwatch(1) list the same options."""
import re
import subprocess
import sys

binary, manual = sys.argv[1], sys.argv[2]
help_text = subprocess.run([binary, "--help"], capture_output=True, text=True, check=True).stdout
in_help = set(re.findall(r"^\s+(--[a-z][a-z-]*)", help_text, re.M))

with open(manual, encoding="utf-8") as f:
    source = f.read()
options = source.split("# OPTIONS", 1)[1].split("\n# ", 1)[0]
in_manual = set(re.findall(r"^\*(--[a-z][a-z-]*)\*", options, re.M))

if not in_help:
    sys.exit("no options found in --help:\n" + help_text)
if in_help != in_manual:
    sys.exit(f"only in --help: {sorted(in_help - in_manual)}; only in the manual: {sorted(in_manual - in_help)}")
print(f"{len(in_help)} options in both: {' '.join(sorted(in_help))}")
