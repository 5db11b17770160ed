#!/usr/bin/env bash
# Instruction counts of dbcpack and dbcunpack under callgrind. See
# bench/README.md.
#
#   bash bench/instructions.sh [--dir DIR] [--baseline BUILD]
#   bash bench/run.sh --instructions [--dir DIR] [--baseline BUILD]
#
# Builds dbcpack and dbcunpack in Release in build/bench (as bench/run.sh
# does), cuts the first 10 MB (whole lines) of the scale-1 bench tables
# numeric, wide and strings into DIR/slices, and counts the instructions
# of: dbcpack on each slice; dbcunpack on each slice's DBC file, its types
# guessed; dbcunpack on the wide one with --types. With --baseline, the
# same runs of the dbcpack and dbcunpack in BUILD (another build tree, say
# of an older commit) come first, their outputs must be byte-identical,
# and the table shows both counts and the change. Exits non-zero only on
# harness errors (a failed run, outputs that differ).
set -euo pipefail
export LC_ALL=C

DIR=${DBCPACK_BENCH_DIR:-/tmp/dbcpack-bench}
BASELINE=""
SLICE_BYTES=10000000

die() {
  echo "instructions.sh: error: $*" >&2
  exit 2
}

while [[ $# -gt 0 ]]; do
  case $1 in
    --dir) [[ $# -ge 2 ]] || die "--dir needs a value"; DIR=$2; shift 2 ;;
    --dir=*) DIR=${1#*=}; shift ;;
    --baseline) [[ $# -ge 2 ]] || die "--baseline needs a value"; BASELINE=$2; shift 2 ;;
    --baseline=*) BASELINE=${1#*=}; shift ;;
    -h | --help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
done

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bench_dir
for tool in cmake valgrind sha256sum awk head; do
  command -v "$tool" >/dev/null || die "'$tool' is not installed"
done
if [[ -n $BASELINE ]]; then
  BASELINE=$(cd "$BASELINE" && pwd -P) || die "no folder $BASELINE"
  for b in dbcpack dbcunpack; do [[ -x $BASELINE/$b ]] || die "no $BASELINE/$b"; done
fi
bench_build dbcpack dbcunpack dbcpack_gen_tables dbcpack_bench_exec
# The slices come from the scale-1 tables, shared with bench/run.sh.
bench_data 1
SLICES=$DIR/slices
mkdir -p "$SLICES"
TABLES=(numeric wide strings)
for name in "${TABLES[@]}"; do
  # The first SLICE_BYTES bytes, cut back to the end of the last whole line.
  head -c "$SLICE_BYTES" "$DATA/$name.csv" | head -n -1 >"$SLICES/$name.csv.tmp"
  mv "$SLICES/$name.csv.tmp" "$SLICES/$name.csv"
done

# count LABEL CWD PROGRAM ARGS... : prints the instruction count of the
# whole process (every thread), run detached as bench/run.sh runs it.
count() {
  local label=$1 cwd=$2 out
  shift 2
  out=$DIR/callgrind.$label.out
  rm -f "$out"
  "$EXEC" --timeout 1800 --cwd "$cwd" --out "$DIR/callgrind.$label.log" -- \
    valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null ||
    die "'$*' failed under callgrind (log: $DIR/callgrind.$label.log)"
  if grep -q -E '^(ERROR|WARNING): ' "$DIR/callgrind.$label.log" &&
    grep -E '^(ERROR|WARNING): ' "$DIR/callgrind.$label.log" | grep -q -v -F 'Guessed types uncertain'; then
    die "'$*' reported an error (log: $DIR/callgrind.$label.log)"
  fi
  awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

# measure SIDE BIN: every run with the programs in BIN; fills COUNTS[SIDE.run]
# and HASHES[SIDE.run] (sha256 of the output).
declare -A COUNTS HASHES
RUNS=()
measure() {
  local side=$1 bin=$2 rd=$DIR/instructions-$1 name types
  rm -rf "$rd"
  for name in "${TABLES[@]}"; do
    mkdir -p "$rd/$name"
    ln "$SLICES/$name.csv" "$rd/$name/" 2>/dev/null || cp "$SLICES/$name.csv" "$rd/$name/"
    echo "   $side: dbcpack $name" >&2
    COUNTS[$side.pack-$name]=$(count "$side.pack-$name" "$rd/$name" "$bin/dbcpack")
    HASHES[$side.pack-$name]=$(sha256sum <"$rd/$name/$name.csv.dbc" | cut -d' ' -f1)
    rm "$rd/$name/$name.csv"
    echo "   $side: dbcunpack $name" >&2
    COUNTS[$side.unpack-$name]=$(count "$side.unpack-$name" "$rd/$name" "$bin/dbcunpack" --force "$name.csv.dbc")
    HASHES[$side.unpack-$name]=$(sha256sum <"$rd/$name/$name.csv.dbc.csv" | cut -d' ' -f1)
  done
  types=$(head -n 1 "$SLICES/wide.csv" | tr -d '\r')
  echo "   $side: dbcunpack --types wide" >&2
  COUNTS[$side.unpack-types-wide]=$(count "$side.unpack-types-wide" "$rd/wide" "$bin/dbcunpack" --force --types "$types" wide.csv.dbc)
  HASHES[$side.unpack-types-wide]=$(sha256sum <"$rd/wide/wide.csv.dbc.csv" | cut -d' ' -f1)
}
for name in "${TABLES[@]}"; do RUNS+=("pack-$name"); done
for name in "${TABLES[@]}"; do RUNS+=("unpack-$name"); done
RUNS+=(unpack-types-wide)

echo "== counting instructions under callgrind (a minute or two per build)"
[[ -n $BASELINE ]] && measure before "$BASELINE"
measure after "$BUILD"

millions() { awk -v n="$1" 'BEGIN { printf "%.1fM", n / 1e6 }'; }
describe() {
  case $1 in
    pack-*) echo "dbcpack ${1#pack-}" ;;
    unpack-types-*) echo "dbcunpack --types ${1#unpack-types-}" ;;
    unpack-*) echo "dbcunpack ${1#unpack-}" ;;
  esac
}
COMMIT=$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo "no commit")
DIRTY=$(git -C "$REPO" status --porcelain -- src CMakeLists.txt 2>/dev/null | head -1)
status=0
{
  echo "# dbcpack instruction counts"
  echo
  echo "Commit $COMMIT${DIRTY:+ (with uncommitted changes)}; callgrind, whole process (all threads), on the first $((SLICE_BYTES / 1000000)) MB (whole lines) of each scale-1 bench table.${BASELINE:+ Before: $BASELINE.}"
  echo
  if [[ -n $BASELINE ]]; then
    echo "| run | before | after | change |"
    echo "|---|---:|---:|---:|"
  else
    echo "| run | instructions |"
    echo "|---|---:|"
  fi
  for run in "${RUNS[@]}"; do
    if [[ -n $BASELINE ]]; then
      change=$(awk -v a="${COUNTS[before.$run]}" -v b="${COUNTS[after.$run]}" \
        'BEGIN { printf "%+.1f %%", (b - a) * 100 / a }')
      echo "| $(describe "$run") | $(millions "${COUNTS[before.$run]}") | $(millions "${COUNTS[after.$run]}") | $change |"
    else
      echo "| $(describe "$run") | $(millions "${COUNTS[after.$run]}") |"
    fi
  done
  echo
  for run in "${RUNS[@]}"; do
    echo "- $(describe "$run"): ${COUNTS[after.$run]} instructions, output sha256 ${HASHES[after.$run]:0:16}..."
    if [[ -n $BASELINE && ${HASHES[before.$run]} != "${HASHES[after.$run]}" ]]; then
      echo "  OUTPUT DIFFERS from the baseline's (${HASHES[before.$run]:0:16}...)"
      status=2
    fi
  done
} | tee "$DIR/instructions.md"
echo
echo "(written to $DIR/instructions.md)"
exit $status
