#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   tools/fuzz.sh [seconds-per-target] [target...]
#
# Defaults: 20 seconds, every target. New inputs go to a working corpus in the
# build directory (the committed corpus is only read); a crashing input is
# left there as <target>-crash-* and the script exits non-zero. Long runs:
# give more seconds and run it under `nice -n 19`.
# Environment: ZENTRY_FUZZ_BUILD (build directory, default build/fuzz in the
# repository), ZENTRY_FUZZ_JOBS (parallel compile jobs, default 2).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZENTRY_FUZZ_BUILD:-$repo/build/fuzz}
seconds=${1:-20}
shift || true
"$repo/tools/ensure-packages.sh" cmake ninja-build clang libclang-rt-14-dev

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZENTRY_FUZZ=ON -DZENTRY_TESTS=OFF -DZENTRY_BENCH=OFF >/dev/null
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$repo"/fuzz/*_fuzzer.cc; do targets+=("$(basename "$source" .cc)"); done
fi
ninja -C "$build" -j "${ZENTRY_FUZZ_JOBS:-2}" "${targets[@]}" >/dev/null

failed=0
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  inputs=("$work/corpus" "$repo/fuzz/corpus/$target")
  [ -d "$repo/fuzz/regressions/$target" ] && inputs+=("$repo/fuzz/regressions/$target")
  options=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$work/artifacts/$target-")
  [ -f "$repo/fuzz/$target.dict" ] && options+=(-dict="$repo/fuzz/$target.dict")
  log="$work/last-run.log"
  if "$build/fuzz/$target" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*' || echo 0)
  printf '%-20s %-6s %4ss %10s execs  cov %s\n' "$target" "$status" "$seconds" "$runs" "$coverage"
  if [ "$status" = FAILED ]; then
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" | head -n 10 | sed 's/^/    /'
  fi
done
exit "$failed"
