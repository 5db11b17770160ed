#!/usr/bin/env bash
# Continuous integration for the Windows build: cross-compiles dbcpack.exe
# and its tests with MinGW-w64, runs every test under Wine, and makes the
# release zip. Installs what a fresh Debian machine lacks. Exits non-zero
# when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/install-missing.sh
install_missing cmake ninja-build googletest g++-mingw-w64-x86-64 wine64

# Wine's server outlives the programs it ran by a few seconds; it must not
# outlive this script.
stop_wine() {
  for server in wineserver64 /usr/lib/wine/wineserver64 wineserver; do
    if command -v "$server" >/dev/null 2>&1; then
      WINEPREFIX="$PWD/build/windows/wine" "$server" -k 2>/dev/null || true
      return
    fi
  done
}
trap stop_wine EXIT

mkdir -p build
log=build/windows-ci.log
echo "== cmake --workflow --preset windows (full log: $log)"
status=0
cmake --workflow --preset windows >"$log" 2>&1 || status=$?
if ((status != 0)); then
  echo "== the Windows build or its tests failed; the end of the log:"
  tail -n 80 "$log"
  exit "$status"
fi
# CTest's closing lines: the pass count and the total time.
sed -n '/tests passed/,$p' "$log"

echo "== cmake --workflow --preset package-windows"
cmake --workflow --preset package-windows >>"$log" 2>&1 || {
  status=$?
  tail -n 20 "$log"
  exit "$status"
}
zip=$(ls build/windows/dbcpack-*-win64.zip)
echo "$zip"
# The README stands at the top of the zip, where whoever opens it sees it.
cmake -E tar tf "$zip" | grep -qx 'dbcpack-[^/]*/README.md' || {
  echo "README.md is not at the top of $zip"
  exit 1
}
