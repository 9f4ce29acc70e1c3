#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb from the build tree into a temporary folder and holds it to
# what Debian holds a package to: lintian without errors, a valid desktop
# file and AppStream metainfo, stripped programs, the changelog and the
# copyright file where Debian looks for them.
# Usage: check_package.sh <build folder>
set -euo pipefail
build=$(realpath "$1")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.txt" 2>&1 || { cat "$out/cpack.txt"; exit 1; }
deb=$(ls "$out"/drainwatch_*.deb)
dpkg-deb -x "$deb" "$out/root"

fail=0
check() { echo "FAIL: $*" >&2; fail=1; }

# Errors fail; warnings and notes are printed for the record.
lintian --fail-on error --tag-display-limit 0 "$deb" || check "lintian reports errors"

desktop-file-validate "$out"/root/usr/share/applications/*.desktop || check "desktop file does not validate"
appstreamcli validate --no-net --pedantic "$out"/root/usr/share/metainfo/*.xml >"$out/appstream.txt" 2>&1 ||
  { cat "$out/appstream.txt"; check "metainfo does not validate"; }

[ -s "$out/root/usr/share/man/man1/drainwatch.1.gz" ] || check "no manual page"
for file in changelog.gz copyright; do
  [ -s "$out/root/usr/share/doc/drainwatch/$file" ] || check "no /usr/share/doc/drainwatch/$file"
done
# One licence everywhere: the copyright file's text is LICENSE's, under the
# same holder, and the metainfo names it.
source=$(dirname "$(realpath "$0")")/../..
python3 - "$source/LICENSE" "$out/root/usr/share/doc/drainwatch/copyright" <<'PY' || check "the copyright file and LICENSE differ"
import sys
licence = open(sys.argv[1], encoding="utf-8").read()
holder = licence.split("\n")[2].removeprefix("Copyright (c) ")
copyright = open(sys.argv[2], encoding="utf-8").read()
text = copyright.split("License: MIT\n")[2]
text = "\n".join("" if line == " ." else line[1:] for line in text.rstrip("\n").split("\n"))
sys.exit(text.strip() != licence.split("\n\n", 2)[2].strip() or f"Copyright: {holder}\n" not in copyright)
PY
grep -q '<project_license>MIT</project_license>' "$out"/root/usr/share/metainfo/*.xml || check "metainfo names no MIT licence"
for program in usr/bin/drainwatch usr/libexec/drainwatch/drainwatch-desktop; do
  [ -x "$out/root/$program" ] || { check "no $program"; continue; }
  file -b "$out/root/$program" | grep -q ', stripped' || check "$program is not stripped"
done
# The window program's X11 class is what StartupWMClass must name.
grep -q '^StartupWMClass=drainwatch-desktop$' "$out"/root/usr/share/applications/*.desktop ||
  check "StartupWMClass does not name the window program"
dpkg-deb -f "$deb" Recommends | grep -q qt6-wayland || check "qt6-wayland is not recommended"

echo "package: $(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
exit $fail
