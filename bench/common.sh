# Shared by bench/run.sh and bench/instructions.sh (sourced, not run): the
# data folder, the Release build in build/bench and the generated tables.
# Expects a function die MESSAGE, and DIR set to the data folder.

# bench_dir: sets REPO and BUILD, and makes DIR absolute; DIR must lie
# outside the repository.
bench_dir() {
  REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  BUILD=$REPO/build/bench
  mkdir -p "$DIR"
  DIR=$(cd "$DIR" && pwd -P)
  case "$DIR/" in
    "$(cd "$REPO" && pwd -P)"/*) die "the data directory $DIR lies inside the repository; use --dir" ;;
  esac
}

# bench_build TARGET...: builds them in Release (g++) in BUILD, configured
# once; sets GEN (the table generator) and EXEC (the exec wrapper).
bench_build() {
  echo "== building (Release) in $BUILD"
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  if [[ ! -f $BUILD/CMakeCache.txt ]]; then
    cmake -S "$REPO" -B "$BUILD" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_COMPILER=g++ -DDBCPACK_BENCH=ON -DDBCPACK_TESTS=OFF >"$DIR/build.log" 2>&1 ||
      { tail -30 "$DIR/build.log" >&2; die "configure failed (log: $DIR/build.log)"; }
  fi
  cmake --build "$BUILD" --target "$@" >>"$DIR/build.log" 2>&1 ||
    { tail -30 "$DIR/build.log" >&2; die "build failed (log: $DIR/build.log)"; }
  GEN=$BUILD/bench/dbcpack_gen_tables
  EXEC=$BUILD/bench/dbcpack_bench_exec
}

# bench_data SCALE: sets DATA to the tables of that scale, generating them
# unless they are there already (the generator is deterministic).
bench_data() {
  local stamp
  DATA=$DIR/data-x$1
  stamp=$("$GEN" --scale "$1" --describe)
  if [[ ! -f $DATA/.complete || $(cat "$DATA/.complete") != "$stamp" ]]; then
    echo "== generating tables (scale $1) into $DATA"
    rm -rf "$DATA"
    "$GEN" --scale "$1" "$DATA" || die "generation failed"
    echo "$stamp" >"$DATA/.complete"
  else
    echo "== tables present in $DATA ($stamp)"
  fi
}
