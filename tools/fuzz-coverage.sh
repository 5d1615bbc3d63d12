#!/usr/bin/env bash
# Line coverage of the filter's sources reached by the fuzz corpora: the
# committed seeds and regressions, plus the working corpora that tools/fuzz.sh
# grew, when they are there.
#
#   tools/fuzz-coverage.sh        ZENTRY_COVERAGE_BUILD (default build/coverage),
#                           ZENTRY_FUZZ_BUILD (where fuzz.sh left its corpora)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZENTRY_COVERAGE_BUILD:-$repo/build/coverage}
fuzzBuild=${ZENTRY_FUZZ_BUILD:-$repo/build/fuzz}
"$repo/tools/ensure-packages.sh" cmake ninja-build clang llvm

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZENTRY_BENCH=OFF \
  -DZENTRY_STATIC=OFF -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
targets=()
for source in "$repo"/fuzz/*_fuzzer.cc; do targets+=("$(basename "$source" .cc)"); done
ninja -C "$build" -j 2 "${targets[@]/%/_replay}" >/dev/null

profiles="$build/profiles"
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for target in "${targets[@]}"; do
  inputs=("$repo/fuzz/corpus/$target")
  for extra in "$repo/fuzz/regressions/$target" "$fuzzBuild/fuzz-work/$target/corpus"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  LLVM_PROFILE_FILE="$profiles/$target.profraw" "$build/fuzz/${target}_replay" "${inputs[@]}"
  objects+=(-object "$build/fuzz/${target}_replay")
done
llvm-profdata merge -o "$profiles/all.profdata" "$profiles"/*.profraw
llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" \
  "$repo/core" "$repo/platform" "$repo/scanner" "$repo/filter"
