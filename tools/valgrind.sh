#!/usr/bin/env bash
# Runs the filter under valgrind on every example (a directory holding
# routing.dat, zentry.dat, subject and arguments, as the host lays it out),
# then the fuzz corpus replays, which take the whole filter, the rule loader,
# the readers, the decoders and the matcher through their seed inputs.
# Any memory error or leak fails the script.
#
#   tools/valgrind.sh          ZENTRY_VALGRIND_BUILD: build directory (default build/valgrind)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZENTRY_VALGRIND_BUILD:-$repo/build/valgrind}
"$repo/tools/install-deps.sh"
"$repo/tools/ensure-packages.sh" valgrind
# Dynamically linked: valgrind can only watch malloc and free in a shared libc.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRY_BENCH=OFF -DZENTRY_STATIC=OFF \
  >/dev/null
targets=(zentry)
for source in "$repo"/fuzz/*_fuzzer.cc; do targets+=("$(basename "$source" .cc)_replay"); done
cmake --build "$build" --target "${targets[@]}" -j 2 >/dev/null

# The dynamic loader's own strncmp reads a word at a time past the end of a
# short $ORIGIN path it has just copied; valgrind cannot replace that
# strncmp, so it reports the read. It happens when iconv loads a charset
# module whose own libraries are found by $ORIGIN (the Japanese ones).
suppressions=$(mktemp)
trap 'rm -f "$suppressions"' EXIT
cat >"$suppressions" <<'EOF'
{
   loader-origin-strncmp
   Memcheck:Addr8
   fun:strncmp
   fun:is_dst
}
EOF

# The filter itself exits 1 on a hit with "errorlevel", so valgrind reports
# its findings with a code the filter never uses.
valgrind=(valgrind --quiet --error-exitcode=99 --suppressions="$suppressions" --leak-check=full --show-leak-kinds=definite,indirect
  --errors-for-leak-kinds=definite,indirect)
failed=0
for example in "$repo"/examples/*/; do
  [ -f "$example/routing.dat" ] || continue
  work=$(mktemp -d)
  cp "$example/routing.dat" "$example/zentry.dat" "$work/"
  read -r -a arguments <"$example/arguments" || true  # the file may lack a final LF
  status=0
  (cd "$work" && env -i subject="$(cat "$example/subject")" "${valgrind[@]}" "$build/zentry" "${arguments[@]}" \
    >/dev/null) || status=$?
  rm -rf "$work"
  if [ "$status" -le 1 ]; then
    echo "valgrind: example $(basename "$example") clean (exit code $status)"
  else
    echo "valgrind: example $(basename "$example") FAILED (exit code $status)"
    failed=1
  fi
done
for source in "$repo"/fuzz/*_fuzzer.cc; do
  target=$(basename "$source" .cc)
  inputs=("$repo/fuzz/corpus/$target")
  [ -d "$repo/fuzz/regressions/$target" ] && inputs+=("$repo/fuzz/regressions/$target")
  if "${valgrind[@]}" "$build/fuzz/${target}_replay" "${inputs[@]}" >/dev/null; then
    echo "valgrind: $target corpus clean"
  else
    echo "valgrind: $target corpus FAILED"
    failed=1
  fi
done
exit "$failed"
