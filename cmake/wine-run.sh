#!/bin/sh
# Runs a Windows program under Wine for CTest: wine-run.sh PREFIX PROGRAM
# [ARGS...]. Wine keeps its state in PREFIX (a folder in the build tree),
# which is created on first use without a display or any question asked, so
# a fresh machine runs the tests unattended. Wine's own diagnostics are
# silenced; the program's output and exit status pass through.
set -eu
prefix=$1
shift

wine=
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$(command -v "$candidate")
    break
  fi
done
if [ -z "$wine" ]; then
  echo "wine-run.sh: Wine not found (install Debian's wine64)" >&2
  exit 127
fi

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers, no desktop menu entries: none is needed to
# run a console program, and each would ask or wait.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Two tests starting at once must not both build the prefix.
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      # wineboot returns before the prefix is written out; the server's
      # end is when it is.
      for server in wineserver64 /usr/lib/wine/wineserver64 wineserver; do
        if command -v "$server" >/dev/null 2>&1; then
          "$server" -w || true
          break
        fi
      done
    fi
  ) 9>"$prefix.lock"
fi

exec "$wine" "$@"
