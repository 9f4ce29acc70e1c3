#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# run-scenario.sh SIM SCENARIO.scn: runs a scenario and compares standard
# output, the log and the exit status with the files beside it.
set -u
sim=$1 scn=$2
base=${scn%.scn}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

TZ=UTC "$sim" --log "$work/log" "$scn" >"$work/out" 2>"$work/err"
status=$?
expected_status=0
[ -f "$base.status" ] && expected_status=$(cat "$base.status")
[ -f "$work/log" ] || : >"$work/log"

failed=0
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"; cat "$work/err"; failed=1
fi
if [ "$expected_status" != 0 ] && ! grep -q '^line [0-9]*: ' "$work/err"; then
  echo "standard error lacks 'line N:'"; cat "$work/err"; failed=1
fi
diff -u "$base.out" "$work/out" || failed=1
diff -u "$base.log" "$work/log" || failed=1
exit $failed
