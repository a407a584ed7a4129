#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a set time, starting
# from the seed corpus in fuzz/corpus/<target>/. New inputs and crash files go to a scratch
# directory, never into the repository; the summary gives executions and crashes per target.
#
# Settings (environment):
#   FUZZ_SECONDS   seconds per target (300)
#   FUZZ_MAX_LEN   largest input in bytes (65536)
#   FUZZ_PARALLEL  targets run at once (1; the build always uses -j2 at most)
#   FUZZ_TARGETS   the targets to run (all four)
#   FUZZ_BUILD     the build directory (build-fuzz)
#   FUZZ_WORK      the scratch directory (a new temporary one)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_PER_TARGET=${FUZZ_SECONDS:-300}
MAX_LEN=${FUZZ_MAX_LEN:-65536}
PARALLEL=${FUZZ_PARALLEL:-1}
TARGETS=${FUZZ_TARGETS:-"decoder json_decoder connections cookie_expiry cookie_jar"}
WORK=${FUZZ_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/bugzilla-fuzz.XXXXXX")}
mkdir -p "$WORK"

dictionary_of() {
  case "$1" in
    decoder) echo "$ROOT/fuzz/dict/decoder.dict" ;;
    json_decoder) echo "$ROOT/fuzz/dict/json_decoder.dict" ;;
    connections) echo "$ROOT/fuzz/dict/connections.dict" ;;
    cookie_expiry | cookie_jar) echo "$ROOT/fuzz/dict/cookie.dict" ;;
  esac
}

# The library code is instrumented too (see fuzz/CMakeLists.txt); libstdc++ assertions turn an
# out-of-range container access into a crash the fuzzer can see.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS \
  -DBUGZILLA_SANITIZE=ON -DBUGZILLA_FUZZ=ON >"$WORK/configure.log"
build_targets=()
for target in $TARGETS; do build_targets+=(--target "${target}_fuzz"); done
cmake --build "$BUILD" -j 2 "${build_targets[@]}"

run_target() {
  local target=$1 dir="$WORK/$1"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  local dict
  dict=$(dictionary_of "$target")
  # The scratch corpus comes first: libFuzzer writes what it finds into the first directory.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz/${target}_fuzz" \
    -max_total_time="$SECONDS_PER_TARGET" -max_len="$MAX_LEN" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" ${dict:+-dict="$dict"} \
    "$dir/corpus" "$ROOT/fuzz/corpus/$target" >"$dir/fuzz.log" 2>&1 || true
}

echo "fuzzing ${TARGETS// /, } for ${SECONDS_PER_TARGET}s each; scratch: $WORK"
running=0
for target in $TARGETS; do
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$PARALLEL" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
printf '\n%-14s %8s %14s %10s %8s %8s\n' target seconds executions exec/s crashes corpus
for target in $TARGETS; do
  dir="$WORK/$target"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/fuzz.log" | tail -n 1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$dir/fuzz.log" | tail -n 1)
  crashes=$(find "$dir/artifacts" -type f | wc -l)
  found=$(find "$dir/corpus" -type f | wc -l)
  printf '%-14s %8s %14s %10s %8s %8s\n' "$target" "${took:-?}" "${runs:-?}" "${rate:-?}" \
    "$crashes" "$found"
  if [ "$crashes" -gt 0 ] || [ -z "$runs" ]; then
    status=1
    find "$dir/artifacts" -type f -printf '  %p\n'
    echo "  log: $dir/fuzz.log"
  fi
done
exit "$status"
