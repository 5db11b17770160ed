#!/bin/sh
# The Windows build never walks into a directory link. Wine cannot make
# Windows links (junctions, symbolic links), but it shows a Unix symbolic
# link to a Windows program as a reparse point, so the tree is built here on
# the host side and dbcpack.exe run in it under Wine: the link to a sibling
# folder and the link back up must add nothing, a link to a file is a file.
# Usage: windows_links_test.sh PROGRAM EMULATOR [EMULATOR ARGS...]
set -eu
program=$1
shift

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/real/deeper"
printf 'int\n1\n' >"$dir/real/a.csv"
printf 'int\n2\n' >"$dir/real/deeper/b.csv"
ln -s real "$dir/alias"
ln -s ../.. "$dir/real/deeper/up"
ln -s real/a.csv "$dir/link.csv"

output=$(cd "$dir" && "$@" "$program" </dev/null 2>/dev/null)

# The order of the files is the listing's; the banner's four lines end it.
files=$(printf '%s\n' "$output" | head -n -4 | sort)
expected=$(for path in ./link.csv ./real/a.csv ./real/deeper/b.csv; do
  printf "Loading file '%s'.\nCSV file loaded '%s'.\nDBC file created '%s.dbc'.\n" \
    "$path" "$path" "$path"
done | sort)
if [ "$files" != "$expected" ]; then
  printf 'expected (sorted):\n%s\ngot:\n%s\n' "$expected" "$output"
  exit 1
fi
banner=$(printf '%s\n' "$output" | tail -n 4 | head -n 2)
if [ "$banner" != "$(printf '\ndbcpack - converts CSV files to DBC files')" ]; then
  printf 'no banner at the end:\n%s\n' "$output"
  exit 1
fi
echo "links not walked; 3 tables converted"
