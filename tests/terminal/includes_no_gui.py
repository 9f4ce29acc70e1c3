#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The terminal program links Qt Core alone, and the desktop program sits
above it: no file in src/terminal may include a header of Qt Widgets or Qt
Gui (by module path or by class name) or one of src/desktop. Such an include
would still compile, as Qt's include root is on every Qt target's path, and
only fail at the link or pull the GUI libraries into `drainwatch`.

Usage: includes_no_gui.py SRC_TERMINAL QT_INCLUDE_DIR..."""
import os
import re
import sys

source = sys.argv[1]
modules = ("QtWidgets", "QtGui")
headers = {}
for folder in sys.argv[2:]:
    if os.path.basename(folder.rstrip("/")) in modules:
        for name in os.listdir(folder):
            headers[name] = os.path.basename(folder.rstrip("/"))
if not all(module in headers.values() for module in modules):
    sys.exit(f"no header folder of {' and '.join(modules)} among {sys.argv[2:]}")

include = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
found = []
for name in sorted(os.listdir(source)):
    if not name.endswith((".cpp", ".h")):
        continue
    with open(os.path.join(source, name), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = include.match(line)
            if not match:
                continue
            header = match.group(1)
            top = header.split("/")[0]
            if top in modules:
                found.append(f"src/terminal/{name}:{number}: {header} is {top}")
            elif top == "desktop":
                found.append(f"src/terminal/{name}:{number}: {header} is the desktop program's")
            elif "/" not in header and header in headers:
                found.append(f"src/terminal/{name}:{number}: {header} is {headers[header]}")
if found:
    sys.exit("\n".join(found))
print(f"no Qt Widgets, Qt Gui or desktop header in {source}")
