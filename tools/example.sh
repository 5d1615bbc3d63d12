#!/usr/bin/env bash
# Builds Zentry and runs it on the bundled examples: first zentry-host replays
# a small mailbox against the example rules, then each prepared working
# directory (stored message, rules, subject) is run the way the mail server
# runs it, with debug on so the trace shows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build="$root/build/example"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTRY_TESTS=OFF -DZENTRY_BENCH=OFF >/dev/null
cmake --build "$build" --target zentry zentry-host >/dev/null

echo "== zentry-host --replay examples/mail/sample.mbox examples/rules/zentry.dat"
"$build/zentry-host" --replay "$root/examples/mail/sample.mbox" "$root/examples/rules/zentry.dat" || true
echo

for example in "$root"/examples/*/; do
  [ -f "$example/routing.dat" ] || continue
  work=$(mktemp -d)
  cp "$example/routing.dat" "$example/zentry.dat" "$work/"
  echo "== $(basename "$example"): subject=\"$(cat "$example/subject")\" zentry $(cat "$example/arguments")"
  status=0
  # shellcheck disable=SC2046
  (cd "$work" && env -i subject="$(cat "$example/subject")" "$build/zentry" $(cat "$example/arguments")) || status=$?
  echo "== exit code $status"
  rm -rf "$work"
done
