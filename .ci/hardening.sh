#!/usr/bin/env bash
# Hardening checks, run by CI after the test workflows:
#   1. every input that ever made a fuzz target fail (fuzz/regressions/),
#      replayed as a plain run of the target;
#   2. each fuzz target for a bounded time from the seed corpus and those
#      regressions;
#   3. the end-to-end conversion of the example tables under valgrind, and
#      dbcunpack over the DBC files that made and a few bad ones, too;
#   4. clang-tidy and cppcheck over the sources.
# Every step runs even when an earlier one failed; the script exits non-zero
# if any did. Scratch files go to a temporary directory, never into the tree.
# FUZZ_SECONDS overrides the time per fuzz target (default 60).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source .ci/install-missing.sh
install_missing cmake ninja-build g++ clang clang-tidy cppcheck valgrind libclang-rt-14-dev util-linux || exit 1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dbcpack-hardening-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
jobs=2
fuzzSeconds=${FUZZ_SECONDS:-60}
fuzzTargets=(load_and_write_fuzzer field_reader_fuzzer unpack_fuzzer tidy_fuzzer)
failed=()

# Runs one named step (a function) and remembers it if it fails.
step() {
  local name=$1
  shift
  echo
  echo "== $name"
  local start=$SECONDS
  if "$@"; then
    echo "-- $name: ok ($((SECONDS - start)) s)"
  else
    echo "-- $name: FAILED ($((SECONDS - start)) s)"
    failed+=("$name")
  fi
}

build_fuzzers() {
  cmake --preset fuzz -B "$root/build/fuzz" >/dev/null &&
    cmake --build "$root/build/fuzz" -j "$jobs" --target "${fuzzTargets[@]}"
}

# A plain run over the saved failures: each must now pass.
fuzz_regressions() {
  local target status=0
  for target in "${fuzzTargets[@]}"; do
    local dir="$root/fuzz/regressions/$target"
    local inputs=()
    [[ -d $dir ]] && mapfile -t inputs < <(find "$dir" -type f | sort)
    echo "$target: ${#inputs[@]} regression input(s)"
    ((${#inputs[@]})) || continue
    (cd "$scratch" && "$root/build/fuzz/fuzz/$target" "${inputs[@]}" >"$scratch/$target.replay.log" 2>&1) || {
      tail -n 60 "$scratch/$target.replay.log"
      status=1
    }
  done
  return $status
}

# The new corpus entries go to a scratch directory (libFuzzer writes to the
# first one given); the seeds and regressions are only read.
fuzz_run() {
  local target=$1
  local work="$scratch/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  local seeds=("$root/fuzz/corpus/$target")
  [[ -d $root/fuzz/regressions/$target ]] && seeds+=("$root/fuzz/regressions/$target")
  if ! (cd "$work" && "$root/build/fuzz/fuzz/$target" -max_total_time="$fuzzSeconds" \
    -max_len=8192 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" >"$work/log" 2>&1); then
    tail -n 80 "$work/log"
    echo "Failing input(s), to be added to fuzz/regressions/$target/ once fixed:"
    ls -l "$work/artifacts"
    return 1
  fi
  grep -E '^(#[0-9]+\s+DONE|stat::number_of_executed_units|stat::new_units_added)' "$work/log"
}

# The example tables (or, without them, a small tree made here) and the
# fuzz seeds, converted by a plain g++ build under valgrind in a new session
# so that no terminal is reached and the key wait ends at once.
valgrind_examples() {
  cmake -S "$root" -B "$root/build/hardening-valgrind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=g++ -DDBCPACK_TESTS=OFF -DDBCPACK_WERROR=ON >/dev/null &&
    cmake --build "$root/build/hardening-valgrind" -j "$jobs" --target dbcpack dbcunpack || return 1
  local tree="$scratch/examples"
  if [[ -d $root/examples ]]; then
    cp -R "$root/examples" "$tree"
  else
    mkdir -p "$tree/sub"
    printf 'int,string,float\n1,"Sword",2.5\n2,"",0\n' >"$tree/items.csv"
    printf 'byte,string\n300,"a,b"\n-1,"say ""hi"""\n' >"$tree/sub/mixed.csv"
    printf 'int,int\n1\n' >"$tree/sub/broken.csv"
  fi
  # The hand-written fuzz seeds add every error path of the loader.
  mkdir -p "$tree/fuzz-seeds" && cp "$root"/fuzz/corpus/load_and_write_fuzzer/*.csv "$tree/fuzz-seeds/"
  (cd "$tree" && setsid -w valgrind --quiet --error-exitcode=1 --leak-check=full \
    --track-fds=yes "$root/build/hardening-valgrind/dbcpack" </dev/null >"$scratch/valgrind.out" 2>"$scratch/valgrind.err")
  local status=$?
  cat "$scratch/valgrind.out" "$scratch/valgrind.err"
  ((status == 0)) || return 1
  grep -q "DBC file created" "$scratch/valgrind.out" || {
    echo "no table was converted"
    return 1
  }
  # Every descriptor still open at exit, other than those inherited from
  # the shell and standard input, output and error, was leaked.
  no_descriptor_leaked "$scratch/valgrind.err"
}

# Every descriptor still open at exit, other than those inherited from the
# shell and standard input, output and error, was leaked.
no_descriptor_leaked() {
  if awk '/Open file descriptor [0-9]+:/ { fd = 1; next }
          fd && !/inherited from parent/ { leaked = 1 } { fd = 0 }
          END { exit !leaked }' "$1"; then
    echo "a file descriptor was left open"
    return 1
  fi
}

# dbcunpack over the DBC files the run above made (named one by one: a walk
# leaves out the packer's outputs beside their sources) and a folder of bad
# ones. Valgrind's own failure has a status of its own, apart from the 1 of
# a batch in which a file failed.
valgrind_unpack() {
  local tree="$scratch/examples" bad="$scratch/examples/bad-dbc"
  local made=()
  mapfile -t made < <(cd "$tree" && find . -name '*.csv.dbc' | sort)
  ((${#made[@]})) || {
    echo "the example run made no DBC file"
    return 1
  }
  mkdir -p "$bad"
  printf 'WDBC' >"$bad/short-header.dbc"
  printf 'XDBC\1\0\0\0\1\0\0\0\4\0\0\0\1\0\0\0\7\0\0\0\0' >"$bad/magic.dbc"
  printf 'WDBC\377\377\377\177\1\0\0\0\4\0\0\0\1\0\0\0\0' >"$bad/counts-past-end.dbc"
  printf 'WDBC\1\0\0\0\1\0\0\0\4\0\0\0\2\0\0\0\1\0\0\0a\0' >"$bad/block-without-nul.dbc"
  printf 'WDBC\0\0\0\0\1\0\0\0\4\0\0\0\1\0\0\0\0' >"$bad/no-records.dbc"
  : >"$bad/empty.dbc"
  (cd "$tree" && setsid -w valgrind --quiet --error-exitcode=99 --leak-check=full \
    --track-fds=yes "$root/build/hardening-valgrind/dbcunpack" --force "${made[@]}" bad-dbc \
    </dev/null >"$scratch/valgrind-unpack.out" 2>"$scratch/valgrind-unpack.err")
  local status=$?
  cat "$scratch/valgrind-unpack.out" "$scratch/valgrind-unpack.err"
  ((status == 1)) || {
    echo "exit status $status, not 1 (some files failed)"
    return 1
  }
  # Whether each is exact depends on the type guess; that one is, shows
  # the whole road was run.
  echo "$(grep -c "^Round trip exact for '" "$scratch/valgrind-unpack.out") exact round trips for ${#made[@]} DBC files made by dbcpack"
  grep -q "^Round trip exact for '" "$scratch/valgrind-unpack.out" || return 1
  no_descriptor_leaked "$scratch/valgrind-unpack.err"
}

configure_for_analysis() {
  cmake -S "$root" -B "$root/build/hardening-analysis" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DDBCPACK_TESTS=OFF >/dev/null
}

# The POSIX sources; the Windows ones do not compile on this host.
analysed_sources() {
  find "$root/src" -name '*.cc' -not -path '*/windows/*' | sort
}

clang_tidy() {
  configure_for_analysis || return 1
  analysed_sources | xargs -P "$jobs" -n 1 clang-tidy --quiet -p "$root/build/hardening-analysis"
}

cppcheck_sources() {
  configure_for_analysis || return 1
  cppcheck --project="$root/build/hardening-analysis/compile_commands.json" --quiet \
    --enable=warning,performance,portability --std=c++20 --inline-suppr --error-exitcode=1 \
    --suppress=missingIncludeSystem -i "$root/build"
}

step "build the fuzz targets" build_fuzzers
if [[ ! " ${failed[*]} " =~ " build the fuzz targets " ]]; then
  step "fuzz regressions" fuzz_regressions
  for target in "${fuzzTargets[@]}"; do
    step "fuzz $target for ${fuzzSeconds} s" fuzz_run "$target"
  done
fi
step "valgrind over the example run" valgrind_examples
step "valgrind over dbcunpack" valgrind_unpack
step "clang-tidy" clang_tidy
step "cppcheck" cppcheck_sources

echo
if ((${#failed[@]})); then
  echo "hardening: ${#failed[@]} step(s) failed:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "hardening: all steps passed"
