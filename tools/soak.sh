#!/usr/bin/env bash
# Soak test: generated messages (real structures, random mutations and known
# bad shapes) through the filter binary, each run twice; no crash, no hang,
# whole output lines and the same output both times. Not part of every CI run.
#
#   tools/soak.sh [count] [seed]
#
# Defaults: 100000 messages, seed 1. ZENTRY_SOAK_SANITIZE=1 soaks a build
# with AddressSanitizer and UndefinedBehaviorSanitizer (several times slower).
# ZENTRY_BINARY=path soaks that binary instead of building one.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100000}
seed=${2:-1}
build=${ZENTRY_SOAK_BUILD:-$repo/build/soak}
mkdir -p "$build"
"$repo/tools/install-deps.sh"

binary=${ZENTRY_BINARY:-}
if [ -z "$binary" ]; then
  sanitize=OFF
  [ "${ZENTRY_SOAK_SANITIZE:-0}" = 1 ] && sanitize=ON
  cmake -S "$repo" -B "$build/filter" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRY_TESTS=OFF \
    -DZENTRY_BENCH=OFF -DZENTRY_SANITIZE=$sanitize >/dev/null
  cmake --build "$build/filter" --target zentry -j 2 >/dev/null
  binary="$build/filter/zentry"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

c++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$build/soak" "$repo/tools/soak.cc"
rm -rf "$build/work"
"$build/soak" --binary "$binary" --count "$count" --seed "$seed" --work "$build/work"
