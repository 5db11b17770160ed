#!/usr/bin/env bash
# The round trip through a real spreadsheet program: DBC files full of hard
# strings are unpacked by dbcunpack, opened and saved as CSV by LibreOffice
# Calc (headless, as root, with a profile of its own, no terminal and no
# standard input), tidied by dbctidy and packed by dbcpack.
#   1. With the settings the README gives (quoted fields as text, no
#      formulas, all text cells quoted, cell contents saved in full), every
#      table must pack back byte for byte.
#   2. With Calc's defaults, every table must be tidied with its first line
#      mended, bare numbers quoted in string columns, and the error values
#      named; how many tables still pack back the same is printed.
# Exits non-zero when any of that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source .ci/install-missing.sh
install_missing cmake ninja-build g++ libgtest-dev libgmock-dev libreoffice-calc-nogui

tables=${SPREADSHEET_TABLES:-55}
build=$root/build/release
cmake --preset release >/dev/null
cmake --build "$build" -j2 --target dbcpack dbcunpack dbctidy spreadsheet_tables >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dbcpack-spreadsheet-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home
mkdir -p "$HOME" "$scratch/dbc"

# Calc, from a fresh profile; --convert-to writes each FILE.csv into $1.
calc() {
  local out=$1 infilter=$2 convert=$3
  shift 3
  mkdir -p "$out"
  soffice -env:UserInstallation="file://$scratch/profile" --headless --norestore \
    --infilter="$infilter" --convert-to "$convert" --outdir "$out" "$@" \
    </dev/null >"$scratch/soffice.log" 2>&1 || {
    cat "$scratch/soffice.log"
    return 1
  }
}

# Packs the tables in $1 as dbcpack does (no terminal: no key wait) and
# prints how many give back their DBC file byte for byte.
pack_and_count() {
  local dir=$1 same=0 file name
  (cd "$dir" && setsid -w "$build/dbcpack" </dev/null >"$scratch/pack.log")
  for file in "$scratch"/dbc/*.dbc; do
    name=$(basename "$file")
    cmp -s "$file" "$dir/$name.csv.dbc" && same=$((same + 1))
  done
  echo "$same"
}

"$build/tests/spreadsheet_tables" "$scratch/dbc" "$tables" 2026
"$build/dbcunpack" --layouts "$scratch/dbc/layouts.txt" "$scratch/dbc" >"$scratch/unpack.log"
exact=$(grep -c "^Round trip exact for '" "$scratch/unpack.log" || true)
echo "unpacked: $exact of $tables tables, round trip exact"
((exact == tables)) || {
  cat "$scratch/unpack.log"
  exit 1
}
mapfile -t csv < <(ls "$scratch"/dbc/*.dbc.csv)

start=$SECONDS
calc "$scratch/documented" 'CSV:44,34,76,1,,0,true,false,,,,,false' \
  'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false' "${csv[@]}"
echo "Calc, the README's settings: ${#csv[@]} tables saved in $((SECONDS - start)) s"
status=0
"$build/dbctidy" "$scratch/documented" >"$scratch/tidy.log" || status=$?
cat "$scratch/tidy.log"
((status == 0)) && ! grep -q '^WARNING' "$scratch/tidy.log" || {
  echo "dbctidy refused or warned about a table saved with the README's settings"
  exit 1
}
same=$(pack_and_count "$scratch/documented")
echo "the README's settings: $same of $tables tables pack back byte for byte"
((same == tables)) || exit 1

start=$SECONDS
calc "$scratch/defaults" 'CSV:44,34,76,1' csv "${csv[@]}"
echo "Calc, its defaults: ${#csv[@]} tables saved in $((SECONDS - start)) s"
status=0
"$build/dbctidy" "$scratch/defaults" >"$scratch/tidy.log" || status=$?
tidied=$(grep -c "^Tidied .*first line mended" "$scratch/tidy.log" || true)
quoted=$(sed -n "s/.*'\([0-9]*\)' string cells\{0,1\} quoted.*/\1/p" "$scratch/tidy.log" | awk '{ n += $1 } END { print n + 0 }')
named=$(sed -n -e "s/^WARNING: .*: Holds .*spreadsheet's error value.*/1/p" \
  -e "s/^WARNING: .*: '\([0-9]*\)' more cells hold a spreadsheet's error value.*/\1/p" \
  "$scratch/tidy.log" | awk '{ n += $1 } END { print n + 0 }')
refused=$(grep -c '^ERROR' "$scratch/tidy.log" || true)
same=$(pack_and_count "$scratch/defaults")
echo "Calc's defaults: $tidied of $tables tables tidied with the first line mended;" \
  "${quoted:-0} string cells written bare quoted; $named error values named; $refused tables refused;" \
  "$same of $tables tables pack back byte for byte (the rest lost what Calc changed unseen)"
((status == 0 && tidied == tables && ${quoted:-0} > 0 && named >= tables)) || {
  cat "$scratch/tidy.log"
  exit 1
}
