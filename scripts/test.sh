#!/usr/bin/env bash
# Installs whatever is missing, builds both trees and runs every test: the unit tests natively
# (ASan + UBSan) and under Wine, the interop tests against files ffmpeg wrote, the end-to-end
# tests of the real zelkora.exe under Wine and Xvfb, and the fuzz targets for a short while.
set -uo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages || exit 1
build_native || exit 1
build_win32 || exit 1

PYTHON=/usr/bin/python3
passed=0
failed=0
failures=()
suite() {
  local name=$1
  shift
  log "$name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
  fi
}

wine_unit_tests() {
  local prefix
  prefix=$(wine_prefix wine-unit) || return 1
  WINEPREFIX="$prefix" wine "$WIN32_DIR/tests/zelkora_unit_tests.exe" --gtest_brief=1
}

# Every tracked C++ file as the repository's .clang-format lays it out.
format_check() {
  local file differ=()
  while IFS= read -r -d '' file; do
    clang-format "$file" | cmp -s - "$file" || differ+=("$file")
  done < <(git ls-files -z '*.cpp' '*.h')
  [ ${#differ[@]} -eq 0 ] && return 0
  printf 'not formatted (clang-format -i): %s\n' "${differ[@]}"
  return 1
}

suite "formatting" format_check
suite "unit tests, native" ctest --test-dir "$NATIVE_DIR" --output-on-failure
suite "unit tests, win32 under Wine" wine_unit_tests
suite "zelkora.exe read without running it" "$PYTHON" tests/pe/exe_test.py
for script in tests/interop/*_interop.py; do
  [ -e "$script" ] || continue
  suite "interop: $(basename "$script" .py)" "$PYTHON" "$script"
done
if [ -f tests/e2e/e2e.py ]; then
  suite "end-to-end, zelkora.exe under Wine and Xvfb" "$PYTHON" tests/e2e/e2e.py
fi
suite "release zip, the same from two clones of HEAD" bash scripts/release.sh --check
if [ -x tests/fuzz/run.sh ]; then
  suite "fuzz targets and hostile-file corpus" tests/fuzz/run.sh
fi

for name in "${failures[@]}"; do echo "FAILED: $name"; done
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
