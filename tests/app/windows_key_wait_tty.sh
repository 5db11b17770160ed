#!/usr/bin/env bash
# Runs the console key wait test of the Windows build in a terminal. Wine
# gives a program a console with a window, the kind the program waits in,
# only when it runs in a terminal, and CTest runs tests without one; script
# (util-linux) makes a pseudo-terminal for it. The terminal's input is held
# open meanwhile: its end would reach the console as the terminal closing,
# which ends the wait as it should.
# Usage: windows_key_wait_tty.sh TEST_PROGRAM EMULATOR [EMULATOR ARGS...]
set -euo pipefail
program=$1
shift

output=$(mktemp)
exec 3< <(exec sleep 600)
holder=$!
trap 'kill "$holder" 2>/dev/null || true; rm -f "$output"' EXIT

printf -v command '%q ' "$@" "$program" '--gtest_filter=WindowsKeyWaitTest.*'
script -qec "$command >$(printf %q "$output") 2>&1" /dev/null <&3 >/dev/null || true
cat "$output"
# Every one passed: none failed, none skipped.
grep -q '^\[  PASSED  \]' "$output" && ! grep -qE '^\[  (FAILED  |SKIPPED )\]' "$output"
