#!/usr/bin/env bash
# Static checks, each of which must come out clean:
#   clang-tidy with the checks in .clang-tidy (every finding is an error),
#   cppcheck (warnings, performance and portability),
#   clang-format --dry-run --Werror with .clang-format.
#
#   tools/lint.sh [file...]     default: every tracked C++ file
#
# ZENTRY_LINT_BUILD: where the compilation database goes (default build/lint).
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
build=${ZENTRY_LINT_BUILD:-$repo/build/lint}
jobs=${ZENTRY_LINT_JOBS:-2}
"$repo/tools/install-deps.sh"
"$repo/tools/ensure-packages.sh" clang-tidy clang-format cppcheck

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cc' '*.h')
fi
mapfile -t sources < <(printf '%s\n' "${files[@]}" | grep '\.cc$')

failed=0
report() {
  if [ "$2" -eq 0 ]; then echo "lint: $1 clean"; else echo "lint: $1 FAILED"; failed=1; fi
}

# Every target, the benchmarks included, so each file is checked with the
# flags it is built with.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# g++ builds the project; clang's -Wconversion also warns on sign changes,
# which g++'s does not, so the compiler part of clang-tidy is held to g++'s.
printf '%s\n' "${sources[@]}" |
  xargs -r -P "$jobs" -n 4 clang-tidy -p "$build" --quiet --extra-arg=-Wno-sign-conversion \
    2> >(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed|^Use -header-filter|^Error while processing' >&2)
report clang-tidy $?

# virtualCallInConstructor: the output sinks flush their own buffer when they
# are destroyed, which is the point, not an attempt at dynamic dispatch.
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --inline-suppr \
  --enable=warning,performance,portability -I "$repo" -I "$repo/tests" \
  --library=googletest --suppress=missingIncludeSystem --suppress=virtualCallInConstructor "${sources[@]}"
report cppcheck $?

clang-format --dry-run --Werror "${files[@]}"
report clang-format $?

exit "$failed"
