#!/usr/bin/env bash
# The procmail and maildrop recipes of docs/deploy.md (examples/recipes/),
# run by the real programs on a hit, a clean message and two broken
# installations. Everything lives in a temporary directory; the recipes' rules
# path is pointed there, and the folders are set before the recipe is
# included, as a user's own file would.
#   tests/host/recipes_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: recipes_test.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/tools/ensure-packages.sh" procmail maildrop
work=$(mktemp -d "${TMPDIR:-/tmp}/zentry-recipes.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

# The docs show each recipe whole.
for recipe in zentry.procmailrc zentry.mailfilter; do
  python3 -c 'import sys; sys.exit(open(sys.argv[2]).read() not in open(sys.argv[1]).read())' \
    "$root/docs/deploy.md" "$root/examples/recipes/$recipe" || fail "docs/deploy.md lacks $recipe"
done

cp "$root/examples/rules/zentry.dat" "$work/rules.dat"
printf 'From: a@example.com\nSubject: Hello\n\nNothing attached.\n' >"$work/clean.eml"
cp "$root/examples/mail/invoice.eml" "$work/hit.eml"
good_path="$build:/usr/bin:/bin"
# A PATH without zentry-host whatever this machine has installed (the package
# puts it in /usr/bin): only the tools the recipes themselves call.
no_host_path=$work/bin-without-host
mkdir "$no_host_path"
for tool in sh mkdir; do ln -s "$(command -v "$tool")" "$no_host_path/$tool"; done

# check NAME MDA MESSAGE PATH RULES EXPECTED_EXIT INBOX QUARANTINE
check() {
  local name=$1 mda=$2 message=$3 path=$4 rules=$5 expected=$6 inbox=$7 quarantine=$8
  local case_dir="$work/$mda-$name"
  mkdir -p "$case_dir/Maildir/cur" "$case_dir/Maildir/new" "$case_dir/Maildir/tmp"
  sed "s#/etc/zentry/zentry.dat#$rules#" "$root/examples/recipes/zentry.$mda" >"$case_dir/recipe"
  local code=0 quarantine_dir=$case_dir/Maildir/.Quarantine
  if [ "$mda" = procmailrc ]; then
    quarantine_dir=$case_dir/quarantine
    printf 'PATH=%s\nMAILDIR=%s\nDEFAULT=%s/Maildir/\nLOGFILE=%s/log\nINCLUDERC=%s/recipe\n' \
      "$path" "$case_dir" "$case_dir" "$case_dir" "$case_dir" >"$case_dir/rc"
    { echo "From a@example.com Mon Jan  1 10:00:00 2024"; cat "$message"; } |
      (cd "$case_dir" && env -i procmail "$case_dir/rc") || code=$?
  else
    printf 'DEFAULT="%s/Maildir"\nQUARANTINE="%s/Maildir/.Quarantine"\nPATH="%s"\ninclude "%s/recipe"\n' \
      "$case_dir" "$case_dir" "$path" "$case_dir" >"$case_dir/rc"
    chmod 600 "$case_dir/rc" "$case_dir/recipe"
    (cd "$case_dir" && env -i maildrop "$case_dir/rc" <"$message") 2>"$case_dir/log" || code=$?
  fi
  local got want="exit $expected, inbox $inbox, quarantine $quarantine"
  got="exit $code, inbox $(find "$case_dir/Maildir/new" -type f | wc -l), quarantine $(
    { find "$quarantine_dir" -path '*/new/*' -type f 2>/dev/null || true; } | wc -l)"
  if [ "$got" = "$want" ]; then echo "ok   $mda $name"; else
    fail "$mda $name: $got (want $want); log: $(cat "$case_dir/log" 2>/dev/null)"; fi
}

for mda in procmailrc mailfilter; do
  #     case              mda   message           PATH          rules                exit inbox quarantine
  check hit               $mda "$work/hit.eml"   "$good_path"  "$work/rules.dat"     0    0     1
  check clean             $mda "$work/clean.eml" "$good_path"  "$work/rules.dat"     0    1     0
  # Former fault: procmail delivered to the inbox when the check could not run.
  check rules-missing     $mda "$work/hit.eml"   "$good_path"  "$work/missing.dat"   75   0     0
  check host-not-on-path  $mda "$work/clean.eml" "$no_host_path" "$work/rules.dat"   75   0     0
done
[ "$failures" = 0 ]
