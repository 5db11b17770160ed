#!/usr/bin/env bash
# Benchmark harness for dbcpack and dbcunpack. See bench/README.md.
#
#   bash bench/run.sh [--scale F] [--dir DIR] [--runs N]
#   bash bench/run.sh --instructions [--dir DIR] [--baseline BUILD]
#
# Environment: DBCPACK_BENCH_SCALE (default 1), DBCPACK_BENCH_DIR (default
# /tmp/dbcpack-bench), DBCPACK_BENCH_RUNS (default 5); options win.
#
# Builds dbcpack, the table generator and the exec wrapper in Release in
# build/bench, generates the tables into DIR/data-xSCALE if they are missing,
# then times whole dbcpack runs on warm page cache and prints a Markdown
# table, also written to DIR/results.md. Exits non-zero only on harness
# errors (build, generation, a converter run that fails or whose output is
# wrong or changes between runs), never because a target was missed.
set -euo pipefail
export LC_ALL=C

SCALE=${DBCPACK_BENCH_SCALE:-1}
DIR=${DBCPACK_BENCH_DIR:-/tmp/dbcpack-bench}
RUNS=${DBCPACK_BENCH_RUNS:-5}

die() {
  echo "run.sh: error: $*" >&2
  exit 2
}

usage() {
  sed -n '2,16p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

# --instructions: the instruction counts instead of the timings, by the
# script beside this one, which takes the other arguments.
for arg in "$@"; do
  if [[ $arg == --instructions ]]; then
    args=()
    for a in "$@"; do [[ $a == --instructions ]] || args+=("$a"); done
    exec bash "$(dirname "${BASH_SOURCE[0]}")/instructions.sh" "${args[@]}"
  fi
done

while [[ $# -gt 0 ]]; do
  case $1 in
    --scale) [[ $# -ge 2 ]] || die "--scale needs a value"; SCALE=$2; shift 2 ;;
    --scale=*) SCALE=${1#*=}; shift ;;
    --dir) [[ $# -ge 2 ]] || die "--dir needs a value"; DIR=$2; shift 2 ;;
    --dir=*) DIR=${1#*=}; shift ;;
    --runs) [[ $# -ge 2 ]] || die "--runs needs a value"; RUNS=$2; shift 2 ;;
    --runs=*) RUNS=${1#*=}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
done

[[ $SCALE =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)$ ]] || die "bad scale '$SCALE'"
[[ $RUNS =~ ^[0-9]+$ && $RUNS -ge 1 ]] || die "bad run count '$RUNS'"
[[ $RUNS -ge 5 ]] || echo "run.sh: note: $RUNS timed runs per case; the figures want at least 5" >&2
SCALE=$(printf '%g' "$SCALE")

LOADAVG=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)
SCALE_NOTE=""
[[ $SCALE == 1 ]] || SCALE_NOTE=" (scale $SCALE: the targets are set for scale 1, and the small-files time grows with the number of tables)"

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bench_dir
for tool in cmake sha256sum od stat awk sort find; do
  command -v "$tool" >/dev/null || die "'$tool' is not installed"
done

# --- Build ------------------------------------------------------------------
bench_build dbcpack dbcpack_gen_tables dbcpack_bench_exec
DBCPACK=$BUILD/dbcpack
for b in "$DBCPACK" "$GEN" "$EXEC"; do [[ -x $b ]] || die "missing $b after the build"; done

# --- Data -------------------------------------------------------------------
bench_data "$SCALE"
RUNDIR=$DIR/run-x$SCALE
# Old run trees are deleted only after the measurements: on ext4 without a
# journal, every inode freed in the last minutes slows down each file
# creation (the allocator skips recently deleted inodes one by one), which
# would show up as a slower small-files case.
TRASH=$DIR/.trash-$$
SHM=""
cleanup() { rm -rf "$TRASH" ${SHM:+"$SHM"}; }
trap cleanup EXIT
if [[ -e $RUNDIR ]]; then mv "$RUNDIR" "$TRASH"; fi
mkdir -p "$RUNDIR"

# --- Helpers ----------------------------------------------------------------
# run_timed CWD OUT CMD... : sets T (wall s), RSS (KiB), CPU (user + system
# s); dies if CMD fails.
run_timed() {
  local cwd=$1 out=$2 line code
  shift 2
  line=$("$EXEC" --timeout 900 --cwd "$cwd" --out "$out" -- "$@") ||
    die "'$*' in $cwd failed or timed out (${line:-no report}); output in $out"
  read -r T RSS code CPU <<<"$line"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 }
    END { if (NR % 2) printf "%.6f\n", a[(NR + 1) / 2]; else printf "%.6f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
maximum() { printf '%s\n' "$@" | sort -g | tail -1; }

# check_log LOG EXPECTED_CREATED : the run converted every table, no errors.
check_log() {
  local log=$1 want=$2 created
  if grep -q -E '^(ERROR|WARNING): ' "$log"; then
    grep -m5 -E '^(ERROR|WARNING): ' "$log" >&2
    die "dbcpack reported errors or warnings (log: $log)"
  fi
  created=$(grep -c "^DBC file created '" "$log" || true)
  [[ $created -eq $want ]] || die "dbcpack created $created files, expected $want (log: $log)"
}

# check_dbc DBC REL : the header matches the generator's manifest entry for
# REL and the file size matches the header.
check_dbc() {
  local dbc=$1 rel=$2 records fields recsize block want size
  [[ -f $dbc ]] || die "no output $dbc"
  want=$(awk -v p="$rel" '$1 == p { print $2, $3, $4 }' "$DATA/manifest.txt")
  [[ -n $want ]] || die "$rel is not in $DATA/manifest.txt"
  read -r records fields recsize block < <(od -An -tu4 -j4 -N16 "$dbc")
  [[ $(head -c4 "$dbc") == WDBC ]] || die "$dbc: bad magic"
  [[ "$records $fields $recsize" == "$want" ]] ||
    die "$dbc: header says $records records, $fields fields, $recsize bytes per record; the generator wrote $want"
  size=$(stat -c %s "$dbc")
  [[ $size -eq $((20 + records * recsize + block)) ]] || die "$dbc: size $size does not match its header"
}

mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / 1e6 / s }'; }

ROWS=()
TARGETS=()
DETAILS=()
verdict() { if [[ $1 == 1 ]]; then echo "met"; else echo "NOT MET"; fi; }

# --- Large files ------------------------------------------------------------
bench_large() {
  local name=$1 target=$2 rd=$RUNDIR/$1 in hash first out_bytes s m peak c_med mbps cat_mbps limit ok
  local -a times=() rsses=() cats=() cpus=()
  mkdir -p "$rd"
  ln "$DATA/$name.csv" "$rd/" 2>/dev/null || cp "$DATA/$name.csv" "$rd/"
  in=$(stat -c %s "$rd/$name.csv")
  echo "== $name.csv ($(mb "$in") MB): 1 warm-up + $RUNS timed runs"
  cat "$rd/$name.csv" >/dev/null # into the page cache
  first=""
  for ((i = 0; i <= RUNS; i++)); do
    rm -f "$rd/$name.csv.dbc"
    run_timed "$rd" "$RUNDIR/$name.log" "$DBCPACK"
    check_log "$RUNDIR/$name.log" 1
    check_dbc "$rd/$name.csv.dbc" "$name.csv"
    hash=$(sha256sum <"$rd/$name.csv.dbc" | cut -d' ' -f1)
    [[ -z $first ]] && first=$hash
    [[ $hash == "$first" ]] || die "$name: the output changed between runs ($first, then $hash)"
    if ((i > 0)); then
      times+=("$T")
      rsses+=("$RSS")
      cpus+=("$CPU")
      printf '   run %d: %.3f s (CPU %.3f s), %s MiB\n' "$i" "$T" "$CPU" "$(mib "$RSS")"
    fi
  done
  for ((i = 0; i < RUNS; i++)); do
    run_timed "$rd" /dev/null cat "$rd/$name.csv"
    cats+=("$T")
  done
  out_bytes=$(stat -c %s "$rd/$name.csv.dbc")
  m=$(median "${times[@]}")
  peak=$(maximum "${rsses[@]}")
  c_med=$(median "${cats[@]}")
  mbps=$(rate "$in" "$m")
  cat_mbps=$(rate "$in" "$c_med")
  ROWS+=("| $name | $(mb "$in") | $(printf '%.3f' "$m") | $mbps | $(mib "$peak") | $cat_mbps |")
  DETAILS+=("- $name: runs $(printf '%.3f ' "${times[@]}")s; CPU (user + system) median $(printf '%.3f' "$(median "${cpus[@]}")") s = $(rate "$in" "$(median "${cpus[@]}")") MB/s of CPU time; output $(mb "$out_bytes") MB, sha256 ${first:0:16}... identical in all $((RUNS + 1)) runs")
  ok=$(awk -v a="$mbps" -v t="$target" 'BEGIN { print (a >= t) ? 1 : 0 }')
  TARGETS+=("- $name throughput: $mbps MB/s, target >= $target MB/s: $(verdict "$ok")")
  limit=$((in + out_bytes + 32 * 1048576))
  ok=$(((peak * 1024) <= limit ? 1 : 0))
  TARGETS+=("- $name memory: peak $(mib "$peak") MiB, limit input + output + 32 MiB = $(mib $((limit / 1024))) MiB: $(verdict "$ok")")
}

bench_large wide 650
bench_large numeric 550
bench_large strings 1500

# --- Small files ------------------------------------------------------------
# bench_small ROOT LABEL: times the small tables in fresh copies below ROOT.
# LABEL "small" is the case with the target; any other is for information.
bench_small() {
  local root=$1 label=$2 rd in count folders hash first m peak c_med ok limit=0.3
  local -a times=() rsses=() cats=() cpus=()
  count=$(find "$DATA/small" -name '*.csv' | wc -l)
  folders=$(find "$DATA/small" -mindepth 1 -type d | wc -l)
  in=$(find "$DATA/small" -name '*.csv' -printf '%s\n' | awk '{ s += $1 } END { print s }')
  echo "== $label: $count tables in $folders folders ($(mb "$in") MB): 1 warm-up + $RUNS timed runs"
  # Every run gets its own fresh tree (of hard links where it can), so no run has to
  # replace or delete the outputs of the one before (see TRASH above).
  local copy=(cp -a)
  [[ $(stat -c %d "$DATA") == $(stat -c %d "$root") ]] && copy=(cp -al)
  for ((i = 0; i <= RUNS; i++)); do
    "${copy[@]}" "$DATA/small" "$root/small.$i" || die "cannot copy $DATA/small to $root"
  done
  find "$root/small.0" -name '*.csv' -exec cat {} + >/dev/null
  first=""
  for ((i = 0; i <= RUNS; i++)); do
    rd=$root/small.$i
    run_timed "$rd" "$RUNDIR/$label.$i.log" "$DBCPACK"
    check_log "$RUNDIR/$label.$i.log" "$count"
    hash=$(cd "$rd" && find . -name '*.csv.dbc' | sort | xargs sha256sum | sha256sum | cut -d' ' -f1)
    [[ -z $first ]] && first=$hash
    [[ $hash == "$first" ]] || die "$label: the outputs changed between runs"
    if ((i > 0)); then
      times+=("$T")
      rsses+=("$RSS")
      cpus+=("$CPU")
      printf '   run %d: %.3f s (CPU %.3f s), %s MiB\n' "$i" "$T" "$CPU" "$(mib "$RSS")"
    fi
  done
  # Spot-check a few headers against the manifest.
  while read -r rel; do
    check_dbc "$root/small.0/${rel#small/}.dbc" "$rel"
  done < <(awk '$1 ~ /^small\// { print $1 }' "$DATA/manifest.txt" | awk 'NR % 97 == 1')
  for ((i = 0; i < RUNS; i++)); do
    run_timed "$root/small.0" /dev/null find . -name '*.csv' -exec cat {} +
    cats+=("$T")
  done
  m=$(median "${times[@]}")
  peak=$(maximum "${rsses[@]}")
  c_med=$(median "${cats[@]}")
  ROWS+=("| $label ($count files) | $(mb "$in") | $(printf '%.3f' "$m") | $(rate "$in" "$m") | $(mib "$peak") | $(rate "$in" "$c_med") |")
  DETAILS+=("- $label: runs $(printf '%.3f ' "${times[@]}")s, each in a fresh tree; CPU (user + system) median $(printf '%.3f' "$(median "${cpus[@]}")") s; $count outputs identical in all $((RUNS + 1)) runs")
  ok=$(awk -v a="$m" -v t="$limit" 'BEGIN { print (a < t) ? 1 : 0 }')
  if [[ $label == small ]]; then
    TARGETS+=("- small: $count files in $(printf '%.3f' "$m") s, target < $limit s: $(verdict "$ok")")
  else
    TARGETS+=("- ($label, for information: $count files in $(printf '%.3f' "$m") s, the same run on tmpfs, free of the disk file system's costs)")
  fi
  if [[ $label == small ]]; then bench_unchanged "$root" "$count" "$in" "$first"; fi
}

# bench_unchanged ROOT COUNT BYTES HASH: runs the converter again over the
# trees bench_small converted, where every output already holds what the
# conversion writes; the outputs must stay byte for byte and file for file
# the same (same inode), only touched.
bench_unchanged() {
  local root=$1 count=$2 in=$3 want=$4 rd hash m peak ok limit=0.15 inodes
  local -a times=() rsses=() cpus=()
  echo "== small-unchanged: the same $count tables again, every output already up to date: $RUNS timed runs"
  for ((i = 1; i <= RUNS; i++)); do
    rd=$root/small.$i
    inodes=$(cd "$rd" && find . -name '*.csv.dbc' -printf '%i\n' | sort | sha256sum)
    run_timed "$rd" "$RUNDIR/small-unchanged.$i.log" "$DBCPACK"
    check_log "$RUNDIR/small-unchanged.$i.log" "$count"
    hash=$(cd "$rd" && find . -name '*.csv.dbc' | sort | xargs sha256sum | sha256sum | cut -d' ' -f1)
    [[ $hash == "$want" ]] || die "small-unchanged: the outputs changed"
    [[ $(cd "$rd" && find . -name '*.csv.dbc' -printf '%i\n' | sort | sha256sum) == "$inodes" ]] ||
      die "small-unchanged: outputs were written anew instead of left in place"
    times+=("$T")
    rsses+=("$RSS")
    cpus+=("$CPU")
    printf '   run %d: %.3f s (CPU %.3f s), %s MiB\n' "$i" "$T" "$CPU" "$(mib "$RSS")"
  done
  m=$(median "${times[@]}")
  peak=$(maximum "${rsses[@]}")
  ROWS+=("| small-unchanged ($count files) | $(mb "$in") | $(printf '%.3f' "$m") | $(rate "$in" "$m") | $(mib "$peak") | |")
  DETAILS+=("- small-unchanged: runs $(printf '%.3f ' "${times[@]}")s over the converted trees; CPU (user + system) median $(printf '%.3f' "$(median "${cpus[@]}")") s; outputs and their inodes unchanged")
  ok=$(awk -v a="$m" -v t="$limit" 'BEGIN { print (a <= t) ? 1 : 0 }')
  TARGETS+=("- small-unchanged: $count files in $(printf '%.3f' "$m") s, target <= $limit s: $(verdict "$ok")")
}

bench_small "$RUNDIR" small
# The same on tmpfs, where file creation does not depend on what the disk
# file system went through lately (see TRASH above).
if [[ -d /dev/shm && -w /dev/shm ]] && [[ $(stat -f -c %T /dev/shm 2>/dev/null) == tmpfs ]]; then
  SHM=/dev/shm/dbcpack-bench-$$
  mkdir -p "$SHM"
  bench_small "$SHM" small-tmpfs
fi

# --- Unpack -------------------------------------------------------------------
# The wide table packed, then its DBC file unpacked by dbcunpack with the
# round-trip check, each timed the same way; the unpack must take at most
# twice the pack and peak at DBC + 2 x CSV + 32 MiB.
bench_unpack() {
  local rd=$RUNDIR/unpack dbc csv hash first types guessed pack_m m peak c_med ok limit
  local -a packs=() packCpus=() times=() rsses=() cats=() cpus=() typesArgs=()
  cmake --build "$BUILD" --target dbcunpack >>"$DIR/build.log" 2>&1 ||
    { tail -30 "$DIR/build.log" >&2; die "build of dbcunpack failed (log: $DIR/build.log)"; }
  local unpack=$BUILD/dbcunpack
  mkdir -p "$rd"
  ln "$DATA/wide.csv" "$rd/" 2>/dev/null || cp "$DATA/wide.csv" "$rd/"
  cat "$rd/wide.csv" >/dev/null
  echo "== unpack: wide.csv packed, then unpacked: 1 warm-up + $RUNS timed runs of each"
  for ((i = 0; i <= RUNS; i++)); do
    rm -f "$rd/wide.csv.dbc"
    run_timed "$rd" "$RUNDIR/unpack-pack.log" "$DBCPACK"
    check_log "$RUNDIR/unpack-pack.log" 1
    if ((i > 0)); then
      packs+=("$T")
      packCpus+=("$CPU")
    fi
  done
  check_dbc "$rd/wide.csv.dbc" wide.csv
  dbc=$(stat -c %s "$rd/wide.csv.dbc")
  # The types as the generator wrote them; the guess is timed when it finds
  # them, else the runs give them (a wrong guess is reported, not timed).
  types=$(head -n 1 "$rd/wide.csv" | tr -d '\r')
  # A failed guess fails the file, which is no harness error here.
  "$EXEC" --timeout 900 --cwd "$rd" --out "$RUNDIR/unpack-guess.log" -- \
    "$unpack" --force wide.csv.dbc >/dev/null || true
  guessed=$(sed -n "s/^Field types of 'wide.csv.dbc' (guessed; give --types to correct them): //p" \
    "$RUNDIR/unpack-guess.log")
  if [[ $guessed != "$types" ]]; then
    typesArgs=(--types "$types")
    DETAILS+=("- unpack: the guess did not find the generator's types; the runs give them with --types")
  fi
  first=""
  for ((i = 0; i <= RUNS; i++)); do
    rm -f "$rd/wide.csv.dbc.csv"
    run_timed "$rd" "$RUNDIR/unpack.log" "$unpack" "${typesArgs[@]}" wide.csv.dbc
    # A guess may say it is unsure (the generator's byte columns stand among
    # random ints); any other warning or error is a failed unpack.
    if grep -E '^(ERROR|WARNING): ' "$RUNDIR/unpack.log" | grep -q -v -F 'Guessed types uncertain' ||
      ! grep -q "^Round trip exact for '" "$RUNDIR/unpack.log"; then
      head -5 "$RUNDIR/unpack.log" >&2
      die "dbcunpack did not unpack wide.csv.dbc exactly (log: $RUNDIR/unpack.log)"
    fi
    hash=$(sha256sum <"$rd/wide.csv.dbc.csv" | cut -d' ' -f1)
    [[ -z $first ]] && first=$hash
    [[ $hash == "$first" ]] || die "unpack: the CSV output changed between runs"
    if ((i > 0)); then
      times+=("$T")
      rsses+=("$RSS")
      cpus+=("$CPU")
      printf '   run %d: %.3f s (CPU %.3f s), %s MiB\n' "$i" "$T" "$CPU" "$(mib "$RSS")"
    fi
  done
  for ((i = 0; i < RUNS; i++)); do
    run_timed "$rd" /dev/null cat "$rd/wide.csv.dbc"
    cats+=("$T")
  done
  csv=$(stat -c %s "$rd/wide.csv.dbc.csv")
  pack_m=$(median "${packs[@]}")
  m=$(median "${times[@]}")
  peak=$(maximum "${rsses[@]}")
  c_med=$(median "${cats[@]}")
  ROWS+=("| unpack wide.csv.dbc | $(mb "$dbc") | $(printf '%.3f' "$m") | $(rate "$dbc" "$m") | $(mib "$peak") | $(rate "$dbc" "$c_med") |")
  DETAILS+=("- unpack: runs $(printf '%.3f ' "${times[@]}")s; CPU (user + system) median $(printf '%.3f' "$(median "${cpus[@]}")") s; pack of the same table $(printf '%.3f' "$pack_m") s (median), CPU $(printf '%.3f' "$(median "${packCpus[@]}")") s; CSV output $(mb "$csv") MB, sha256 ${first:0:16}... identical in all $((RUNS + 1)) runs, round trip exact")
  ok=$(awk -v u="$m" -v p="$pack_m" 'BEGIN { print (u <= 2 * p) ? 1 : 0 }')
  TARGETS+=("- unpack time: $(printf '%.3f' "$m") s, limit 2 x pack $(printf '%.3f' "$pack_m") s = $(printf '%.3f' "$(awk -v p="$pack_m" 'BEGIN { print 2 * p }')") s: $(verdict "$ok")")
  limit=$((dbc + 2 * csv + 32 * 1048576))
  ok=$(((peak * 1024) <= limit ? 1 : 0))
  TARGETS+=("- unpack memory: peak $(mib "$peak") MiB, limit DBC + 2 x CSV + 32 MiB = $(mib $((limit / 1024))) MiB: $(verdict "$ok")")
}

bench_unpack

# --- Report -----------------------------------------------------------------
COMMIT=$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo "no commit")
DIRTY=$(git -C "$REPO" status --porcelain -- src CMakeLists.txt 2>/dev/null | head -1)
CPU=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || echo unknown)
{
  echo "# dbcpack benchmark"
  echo
  echo "Commit $COMMIT${DIRTY:+ (with uncommitted changes)}, scale $SCALE, $RUNS timed runs per case after one warm-up, warm page cache, $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo "Machine: $CPU, $(nproc) CPUs; load average before the run: $LOADAVG, after: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)."
  echo "MB = 10^6 bytes; MB/s = input MB / median wall time of the whole process; peak RSS is the largest over the timed runs; CPU time (under Runs) is less sensitive to other load than wall time; cat = \`cat FILE > /dev/null\` on the same file, median."
  echo
  echo "| case | input MB | median s | MB/s | peak RSS MiB | cat MB/s |"
  echo "|---|---:|---:|---:|---:|---:|"
  printf '%s\n' "${ROWS[@]}"
  echo
  echo "Targets${SCALE_NOTE}:"
  echo
  printf '%s\n' "${TARGETS[@]}"
  echo
  echo "Runs:"
  echo
  printf '%s\n' "${DETAILS[@]}"
} >"$DIR/results.md.tmp"
mv "$DIR/results.md.tmp" "$DIR/results.md"
echo
cat "$DIR/results.md"
echo
echo "(written to $DIR/results.md)"
