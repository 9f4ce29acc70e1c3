#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# lint.sh BUILD_FOLDER: clang-tidy (.clang-tidy) over every source file of
# src/, tests/ and fuzz/ in a clang build's compile database, then
# clang-format (.clang-format) in check mode. Changes nothing.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$1

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDRAINWATCH_SANITIZE=ON >/dev/null || exit 1

status=0
run-clang-tidy -quiet -j 2 -p "$build" "$PWD/src/" "$PWD/tests/" "$PWD/fuzz/" || status=1
git ls-files -z -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' |
  xargs -0 clang-format --dry-run -Werror || status=1
exit $status
