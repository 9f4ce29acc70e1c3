#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, running and testing Drainwatch need;
# with --run only those that building and running the programs need (make run).
# Idempotent: does nothing when everything is there already.
set -euo pipefail

run_only=0
case "${1:-}" in
  --run) run_only=1 ;;
  '') ;;
  *) echo "usage: scripts/install-deps.sh [--run]" >&2; exit 2 ;;
esac

# Building and running the two programs.
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev scdoc libsystemd-dev libsqlite3-dev libfmt-dev libeigen3-dev
  # the window in a Wayland session
  qt6-wayland
)

# What the tests, benchmarks, sanitizer builds and lint add.
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  locales dbus python3-dbusmock faketime xvfb xauth strace
  # bench/footprint: a tray host for the window with its tray icon, and xwininfo
  trayer x11-utils
  # a Wayland compositor to test the window in
  weston
  # the terminal at a given width; keys pressed in the window under Xvfb
  tmux xdotool
  # the README's i3blocks snippet, run by i3blocks itself
  i3blocks
  # tests/package: the .deb as Debian checks it
  lintian desktop-file-utils appstream file
  # make test-sanitize, make fuzz, make lint: clang with its sanitizer and
  # libFuzzer runtimes, clang-tidy, clang-format
  clang libclang-rt-14-dev clang-tidy clang-format
)
[ $run_only -eq 1 ] || packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Tests format under a comma-decimal locale to prove the output does not follow it.
need_locale=0
[ $run_only -eq 1 ] || locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$' || need_locale=1

if [ ${#missing[@]} -eq 0 ] && [ $need_locale -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  [ ${#missing[@]} -gt 0 ] && echo "Drainwatch needs: sudo apt-get install ${missing[*]}" >&2
  [ $need_locale -eq 1 ] && echo "and a German locale for the tests: sudo sh -c 'echo de_DE.UTF-8 UTF-8 >> /etc/locale.gen && locale-gen'" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ $need_locale -eq 1 ]; then
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
