#!/usr/bin/env bash
# The Linux release archive: builds it, checks that it holds the programs,
# their manual pages and the documents in the layout of a prefix, and that
# the programs need nothing newer than the glibc the README promises (and no
# libstdc++ at all), so that a new symbol cannot quietly raise the
# distributions the archive runs on.
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/install-missing.sh
install_missing cmake ninja-build g++ binutils

maxGlibc=2.34
mkdir -p build
cmake --workflow --preset package-linux >build/package-linux.log 2>&1 || {
  tail -n 40 build/package-linux.log
  exit 1
}
archive=$(ls build/package-linux/dbcpack-*-linux-x86_64.tar.gz)
echo "$archive"
listing=$(tar tzf "$archive")
doc=share/doc/dbcpack
for path in bin/dbcpack bin/dbcunpack bin/dbctidy share/man/man1/dbcpack.1 share/man/man1/dbcunpack.1 \
  share/man/man1/dbctidy.1 \
  $doc/README.md $doc/docs/dbc-format.md $doc/examples/items.csv $doc/examples/more/broken.csv; do
  grep -q "/$path\$" <<<"$listing" || {
    echo "$path is missing from the archive"
    exit 1
  }
done
# The layout of a prefix: nothing but bin/ and share/ at the top, so that
# copying them into one puts nothing loose in it.
loose=$(sed -n 's|^[^/]*/||p' <<<"$listing" | grep -v -e '^$' -e '^bin/' -e '^share/' || true)
if [[ -n $loose ]]; then
  echo "the archive holds paths outside bin/ and share/:"
  echo "$loose"
  exit 1
fi
status=0
for program in build/package-linux/dbcpack build/package-linux/dbcunpack build/package-linux/dbctidy; do
  versions=$(objdump -T "$program" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -uV)
  highest=$(tail -n 1 <<<"$versions")
  echo "$program: needs glibc $highest"
  if [[ $(printf '%s\n%s\n' "$highest" "$maxGlibc" | sort -V | tail -n 1) != "$maxGlibc" ]]; then
    echo "$program needs glibc $highest, more than $maxGlibc:"
    objdump -T "$program" | grep -F "GLIBC_$highest"
    status=1
  fi
  if objdump -p "$program" | grep -q 'libstdc++'; then
    echo "$program needs the system's libstdc++"
    status=1
  fi
done
exit "$status"
