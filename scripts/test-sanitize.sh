#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# test-sanitize.sh BUILD_FOLDER [CMAKE FLAGS...]: the whole CTest suite, the
# child processes and Python tests included, built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
# Every finding aborts the process that made it (-fno-sanitize-recover=all),
# and every report is also written to BUILD/sanitizer-reports: a child process
# that a test kills or whose exit status it does not look at cannot hide a
# finding, because any report there fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDRAINWATCH_SANITIZE=ON "$@"
cmake --build "$build"

reports=$PWD/$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
common="log_path=$reports/report:log_exe_name=1:print_stacktrace=1:halt_on_error=1"
# allocator_release_to_os_interval_ms=-1: the allocator would read the clock
# while it holds its lock, and libfaketime (the clock-jump and sleep tests)
# answers that call with dlsym, which allocates: a deadlock at start.
# No strict_string_checks: libxkbcommon-x11 hands strndup a buffer without a
# NUL at its end, which that option reports as an overflow in every X11 start.
export ASAN_OPTIONS="$common:allocator_release_to_os_interval_ms=-1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_invalid_pointer_pairs=1"
export UBSAN_OPTIONS="$common"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0"

status=0
(cd "$build" && ctest --output-on-failure --timeout 600) || status=$?

if [ -n "$(ls -A "$reports")" ]; then
  for report in "$reports"/*; do
    echo "==== $report"
    cat "$report"
  done
  echo "test-sanitize: the sanitizers reported the findings above" >&2
  status=1
fi
exit $status
