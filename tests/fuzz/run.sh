#!/usr/bin/env bash
# Builds the fuzz targets with clang in build/fuzz, replays the committed findings
# (tests/fuzz/corpus/<target>/, when there are any) and the seeds zelkora-testpattern writes, then
# fuzzes each target for ZELKORA_FUZZ_SECONDS (default 40; 0: replay only). Exits non-zero on
# any finding, which is left as build/fuzz/findings/<target>-crash-*.
#   tests/fuzz/run.sh [TARGET...]        dpx planes mov sequence (default: all)
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
BUILD=build/fuzz
SECONDS_EACH=${ZELKORA_FUZZ_SECONDS:-40}
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(dpx planes mov sequence)
log() { printf '== fuzz: %s\n' "$*"; }

log "building the targets ($BUILD, clang)"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKORA_TESTS=OFF \
  -DZELKORA_FUZZ=ON >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
cmake --build "$BUILD" --target fuzz_targets zelkora-testpattern -j 2 || exit 1

# The files each run writes go to RAM, in a folder of this run alone.
SCRATCH=$(mktemp -d /dev/shm/zelkora-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
export ZELKORA_FUZZ_DIR=$SCRATCH
rm -rf "$BUILD/seeds" && mkdir -p "$BUILD/findings"
"$BUILD/tools/zelkora-testpattern" --seeds "$BUILD/seeds" || exit 1

failed=0
for target in "${TARGETS[@]}"; do
  binary="$BUILD/tests/fuzz/fuzz_$target"
  # An 8K movie frame decoded twice at 1/4 under both sanitizers and coverage takes about half a
  # second on a quiet machine: 5 s still tells a hang from a slow frame when builds share it.
  common=(-timeout=5 -rss_limit_mb=2048 -artifact_prefix="$BUILD/findings/$target-"
    -dict="tests/fuzz/$target.dict")
  inputs=("$BUILD/seeds/$target")
  [ -d "tests/fuzz/corpus/$target" ] && inputs+=("tests/fuzz/corpus/$target")
  log "$target: replaying the seeds and findings"
  if ! "$binary" "${common[@]}" -runs=0 "${inputs[@]}" >"$BUILD/$target.log" 2>&1; then
    tail -n 40 "$BUILD/$target.log"
    failed=$((failed + 1))
    continue
  fi
  [ "$SECONDS_EACH" -gt 0 ] || continue
  log "$target: fuzzing for $SECONDS_EACH s"
  # The working corpus stays in the build folder: a later run starts where this one ended.
  mkdir -p "$BUILD/corpus/$target"
  if ! "$binary" "${common[@]}" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
    "$BUILD/corpus/$target" "${inputs[@]}" >"$BUILD/$target.log" 2>&1; then
    tail -n 60 "$BUILD/$target.log"
    failed=$((failed + 1))
    continue
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$BUILD/$target.log" | tail -n 1
done
[ "$failed" -eq 0 ] || { log "$failed target(s) failed"; exit 1; }
log "all targets clean"
