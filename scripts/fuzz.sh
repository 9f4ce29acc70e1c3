#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fuzz.sh BUILD_FOLDER SECONDS [CMAKE FLAGS...]: builds the libFuzzer targets
# with clang (coverage over every library, ASan and UBSan) and fuzzes each in
# turn for SECONDS, one process at a time. New inputs gather in
# BUILD/corpus/<target>, findings in BUILD/findings; the seeds in
# fuzz/corpus are only read. Fails when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 seconds=$2
shift 2
targets=(fuzz_sysfs fuzz_settings fuzz_scenario fuzz_history)

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDRAINWATCH_FUZZ=ON "$@"
cmake --build "$build" --target "${targets[@]}"

mkdir -p "$build/findings"
# Same as test-sanitize (see there); libFuzzer itself reports the leaks.
export ASAN_OPTIONS="allocator_release_to_os_interval_ms=-1:detect_leaks=1:print_stacktrace=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  echo "== $target: $seconds s"
  # -timeout: an input that takes 10 s is a hang; the diagnostics the
  # programs print for bad input go to the log, libFuzzer's summary here.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/findings/$target-" "$build/corpus/$target" "fuzz/corpus/$target" \
       >"$build/$target.log" 2>&1; then
    status=1
    echo "$target found a fault; the input is in $build/findings, the report in $build/$target.log" >&2
  fi
  grep -E '^#[0-9]+.*(DONE|cov:)' "$build/$target.log" | tail -1
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$build/$target.log" || true
done
exit $status
