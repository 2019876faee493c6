#!/usr/bin/env bash
# The fuzz targets in CI: builds them with clang in build/fuzz when needed, replays the committed
# corpus of fuzzer findings (tests/fuzz/corpus/<target>/) and the generated seeds through each
# target, then fuzzes each target for a bounded time. Exits non-zero on any finding.
#
#   tests/fuzz/run.sh [TARGET...]        targets: dpx planes mov sequence (default: all)
#   ZELKORA_FUZZ_SECONDS=N               fuzzing time per target (default 60; 0: replay only)
#
# A finding is left as build/fuzz/findings/<target>-crash-*; minimise it with
#   build/fuzz/tests/fuzz/fuzz_<target> -minimize_crash=1 -runs=100000 FILE
# fix the reader, and commit the minimised file to tests/fuzz/corpus/<target>/.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT" || exit 1

BUILD=build/fuzz
SECONDS_EACH=${ZELKORA_FUZZ_SECONDS:-60}
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(dpx planes mov sequence)

log() { printf '== fuzz: %s\n' "$*"; }

log "building the targets ($BUILD, clang)"
if ! CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELKORA_TESTS=OFF -DZELKORA_FUZZ=ON >"$BUILD.configure.log" 2>&1; then
  cat "$BUILD.configure.log"
  exit 1
fi
cmake --build "$BUILD" --target fuzz_targets zelkora-testpattern -j 2 || exit 1

# The files each run writes go to RAM when there is some, in a folder of this run alone.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  SCRATCH=$(mktemp -d /dev/shm/zelkora-fuzz.XXXXXX)
else
  SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/zelkora-fuzz.XXXXXX")
fi
trap 'rm -rf "$SCRATCH"' EXIT
export ZELKORA_FUZZ_DIR=$SCRATCH

log "writing the seeds"
rm -rf "$BUILD/seeds"
"$BUILD/tools/zelkora-testpattern" --seeds "$BUILD/seeds" || exit 1
mkdir -p "$BUILD/findings"

failed=0
for target in "${TARGETS[@]}"; do
  binary="$BUILD/tests/fuzz/fuzz_$target"
  if [ ! -x "$binary" ]; then
    echo "no fuzz target $target" >&2
    failed=$((failed + 1))
    continue
  fi
  common=(-timeout=1 -rss_limit_mb=2048 -artifact_prefix="$BUILD/findings/$target-"
    -dict="tests/fuzz/$target.dict")

  log "$target: replaying the committed corpus and the seeds"
  replay=("$BUILD/seeds/$target")
  [ -d "tests/fuzz/corpus/$target" ] && replay+=("tests/fuzz/corpus/$target")
  if ! "$binary" "${common[@]}" -runs=0 "${replay[@]}" >"$BUILD/$target.replay.log" 2>&1; then
    tail -n 40 "$BUILD/$target.replay.log"
    log "$target: FAILED on a replayed file"
    failed=$((failed + 1))
    continue
  fi

  [ "$SECONDS_EACH" -gt 0 ] || continue
  log "$target: fuzzing for $SECONDS_EACH s"
  # The working corpus is kept in the build folder, so a later run starts where this one ended.
  mkdir -p "$BUILD/corpus/$target"
  if ! "$binary" "${common[@]}" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
    "$BUILD/corpus/$target" "${replay[@]}" >"$BUILD/$target.fuzz.log" 2>&1; then
    tail -n 60 "$BUILD/$target.fuzz.log"
    log "$target: FAILED, finding in $BUILD/findings/"
    failed=$((failed + 1))
    continue
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$BUILD/$target.fuzz.log" | tail -n 1
done

if [ "$failed" -ne 0 ]; then
  log "$failed target(s) failed"
  exit 1
fi
log "all targets clean"
