#!/usr/bin/env bash
# Everything CI holds a change to, in one command:
#   static checks (clang-tidy, cppcheck, clang-format),
#   every fuzz target for a short while (ZENTRY_FUZZ_SECONDS, default 20),
#   the examples and the fuzz corpora under valgrind,
#   the test suite plain, then under AddressSanitizer with
#   UndefinedBehaviorSanitizer (both run zentry-milter behind a real Postfix),
#   the parallel scan test under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
jobs=$(nproc)

run_suite() {
  local build="$1"
  shift
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$build" -j "$jobs"
  ctest --test-dir "$build" --output-on-failure -j "$jobs"
}

echo "== static checks"
"$root/tools/lint.sh"
echo "== fuzz targets, ${ZENTRY_FUZZ_SECONDS:-20} s each"
"$root/tools/fuzz.sh" "${ZENTRY_FUZZ_SECONDS:-20}"
echo "== valgrind"
"$root/tools/valgrind.sh"
echo "== plain build"
run_suite "$root/build/check-plain" -DZENTRY_PACKAGE_TEST=ON
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build/check-sanitize" -DZENTRY_SANITIZE=ON -DZENTRY_BENCH=OFF
echo "== ThreadSanitizer: the filter scanning on many threads, as zentry-milter runs it"
cmake -S "$root" -B "$root/build/check-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZENTRY_THREAD_SANITIZE=ON -DZENTRY_BENCH=OFF
cmake --build "$root/build/check-tsan" -j "$jobs" --target zentry_parallel_scan
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/milter/tsan.supp" \
  "$root/build/check-tsan/milter/zentry_parallel_scan" "$root"
