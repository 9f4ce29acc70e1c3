#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Every source file names its licence in its first lines, as the Debian
copyright file and the AppStream metadata say: MIT."""
import os
import sys

ROOT = sys.argv[1]
LINE = "SPDX-License-Identifier: MIT"
FOLDERS = ["src", "tests", "fuzz", "bench", "scripts", ".ci"]


def is_source(path):
    name = os.path.basename(path)
    if name.endswith((".cpp", ".h", ".py", ".sh")) or name == "CMakeLists.txt":
        return True
    with open(path, "rb") as f:
        return f.read(2) == b"#!"


def sources():
    yield os.path.join(ROOT, "CMakeLists.txt")
    yield os.path.join(ROOT, "Makefile")
    for folder in FOLDERS:
        for base, subdirs, names in os.walk(os.path.join(ROOT, folder)):
            # Recorded trees, corpora and scenarios are data, not source.
            subdirs[:] = [d for d in subdirs if d not in ("data", "corpus", "scenarios")]
            for name in names:
                path = os.path.join(base, name)
                if is_source(path):
                    yield path


missing = []
for path in sources():
    with open(path, encoding="utf-8") as f:
        head = [f.readline() for _ in range(2)]
    if not any(LINE in line for line in head):
        missing.append(os.path.relpath(path, ROOT))
if missing:
    print("without an SPDX-License-Identifier line:", *missing, sep="\n  ")
    sys.exit(1)
