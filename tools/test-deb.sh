#!/usr/bin/env bash
# Builds the .deb from a configured build tree, installs it into a throwaway
# root with dpkg, and runs the installed programs on the sample mail.
# Usage: tools/test-deb.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: tools/test-deb.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zentry-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "test-deb: $*" >&2; exit 1; }

cmake --build "$build" --target zentry zentry-host zentry-milter zentry-archive zentry_gzipped_docs zentry_milter_man -- -j2 >"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log" >&2; fail "the build failed"; }
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb)
echo "test-deb: built $(basename "$deb")"

contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/zentry ./usr/bin/zentry-host ./usr/bin/zentry-archive ./usr/share/man/man1/zentry.1.gz \
            ./usr/share/man/man1/zentry-host.1.gz ./usr/share/man/man1/zentry-archive.1.gz \
            ./usr/share/man/man5/zentry.dat.5.gz \
            ./usr/share/doc/zentry/examples/zentry.dat ./usr/share/doc/zentry/rules.md \
            ./usr/share/doc/zentry/deploy.md ./usr/share/doc/zentry/copyright \
            ./usr/share/doc/zentry/examples/recipes/zentry.procmailrc \
            ./usr/share/doc/zentry/examples/recipes/zentry.mailfilter \
            ./etc/zentry/zentry.dat ./var/log/zentry/; do
  grep -q " $path\$" <<<"$contents" || fail "$path is not in the package"
done
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)
for conffile in /etc/zentry/zentry.dat /etc/zentry/zentry-milter.conf; do
  grep -qx "$conffile" <<<"$conffiles" || fail "$conffile is not a configuration file"
done

# Debian's own checks: no error and no warning (tools/ensure-packages.sh
# installs lintian when it is missing).
"$source_dir/tools/ensure-packages.sh" lintian
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$work/lintian.log" >&2; then fail "lintian reports the lines above"; fi
[ "$(dpkg-deb --field "$deb" Package)" = zentry ] || fail "wrong package name"
depends=$(dpkg-deb --field "$deb" Depends)
# dpkg-shlibdeps names the libraries the programs load: the lister's
# libarchive comes from Debian, with Debian's security updates.
for library in libc6 libarchive13 libmilter1.0.1; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done
# zentry-milter: the daemon, its systemd unit, its settings, its manual page.
for path in ./usr/bin/zentry-milter ./lib/systemd/system/zentry-milter.service ./etc/zentry/zentry-milter.conf \
            ./usr/share/man/man8/zentry-milter.8.gz; do
  grep -q " $path\$" <<<"$contents" || fail "$path is not in the package"
done

# The postinst makes the user the service runs as (skipped in another root,
# as below, where there is no user database to change).
postinst=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst) || fail "the package has no postinst"
sh -n <<<"$postinst" || fail "the postinst is not a valid shell script"
grep -q 'useradd --system' <<<"$postinst" || fail "the postinst makes no system user"
grep -qx 'User=zentry-milter' "$source_dir/packaging/zentry-milter.service" ||
  fail "the unit does not run as the packaged user"

# A root of our own with an empty dpkg database: dpkg unpacks and registers
# the package there as on a fresh machine, without touching this one. The
# libraries it depends on come from the host, hence --force-depends.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless --log=/dev/null \
  --instdir="$root" --admindir="$root/var/lib/dpkg" -i "$deb" >/dev/null 2>"$work/dpkg.err" ||
  fail "dpkg -i failed: $(cat "$work/dpkg.err")"
dpkg --admindir="$root/var/lib/dpkg" --status zentry | grep -q '^Status: install ok installed' ||
  fail "dpkg does not list zentry as installed"

bin=$root/usr/bin
examples=$root/usr/share/doc/zentry/examples
"$bin/zentry" | head -1 | grep -q '^Zentry V1.3' || fail "installed zentry does not run"

# Strict mode's archive lister, installed beside the filter that starts it.
[ "$(printf '' | "$bin/zentry-archive" a.zip 0 10 100)" = "left 10 100" ] ||
  fail "installed zentry-archive does not answer"

# zentry-host finds the installed zentry next to itself.
set +e
verdict=$("$bin/zentry-host" --errorlevel "$source_dir/examples/mail/invoice.eml" "$root/etc/zentry/zentry.dat" infected)
code=$?
set -e
[ "$code" = 1 ] || fail "expected exit code 1 on a hit, got $code"
grep -q $'^Subject: Infected (Program information file) - Your invoice\r$' <<<"$verdict" ||
  fail "unexpected verdict: $verdict"

report=$("$bin/zentry-host" --replay --no-progress "$source_dir/examples/mail/sample.mbox" "$examples/zentry.dat" 2>/dev/null)
grep -q '^5 messages: 4 hit, 1 clean, 0 failed, 0 skipped$' <<<"$report" || fail "unexpected report: $report"

for page in man1/zentry.1.gz man1/zentry-host.1.gz man1/zentry-archive.1.gz man5/zentry.dat.5.gz; do
  [ -z "$(man -l "$root/usr/share/man/$page" 2>&1 >/dev/null)" ] || fail "man page $page has errors"
done

# The packaged settings are ones zentry-milter accepts: it gets as far as the
# socket (exit 69), which it cannot make here.
set +e
"$bin/zentry-milter" --config "$root/etc/zentry/zentry-milter.conf" --rules "$examples/zentry.dat" \
  --socket unix:/nonexistent/milter.sock --foreground 2>/dev/null
code=$?
set -e
[ "$code" = 69 ] || fail "zentry-milter with its packaged settings exited $code, not 69"
[ -z "$(man -l "$root/usr/share/man/man8/zentry-milter.8.gz" 2>&1 >/dev/null)" ] ||
  fail "man page zentry-milter.8 has errors"

dpkg --root="$root" --force-not-root --force-script-chrootless --log=/dev/null --instdir="$root" \
  --admindir="$root/var/lib/dpkg" --purge zentry >/dev/null 2>"$work/purge.err" ||
  fail "purge failed: $(cat "$work/purge.err")"
[ ! -e "$bin/zentry-host" ] && [ ! -e "$bin/zentry-archive" ] || fail "purge left programs behind"
[ ! -e "$root/etc/zentry/zentry.dat" ] || fail "purge left the configuration file behind"
echo "test-deb: installed, ran and removed cleanly"
