#!/usr/bin/env bash
# The README's two commands on a machine that has never seen Zentry: makes a
# clean Debian 12 root (mmdebstrap, minbase, from the Debian mirror this
# machine's apt uses), clones the repository's committed HEAD into it, and
# runs tools/example.sh and tools/check.sh there as root. Any step that
# relies on something the project's scripts do not install fails here.
# Run it after every change of dependencies or build files (about an hour
# on two cores: everything is installed and built from nothing).
#
#   sudo tools/fresh-root-check.sh
#
# Only committed work is checked: the clone leaves out uncommitted changes.
# Environment: ZENTRY_FRESH_SOURCES (an apt sources file to build the root
# from; default the active ones here that point at a Debian mirror),
# ZENTRY_FUZZ_SECONDS (passed on to check.sh), ZENTRY_FRESH_KEEP=1 (keep the
# root afterwards, for a look inside).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "fresh-root-check: needs root (mmdebstrap, chroot, mount)" >&2; exit 1; }
"$repo/tools/ensure-packages.sh" mmdebstrap git

sources=()
if [ -n "${ZENTRY_FRESH_SOURCES:-}" ]; then
  sources=("$ZENTRY_FRESH_SOURCES")
else
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && grep -qE '^[^#]*debian\.org/debian' "$file" && sources+=("$file")
  done
fi
[ ${#sources[@]} -gt 0 ] || { echo "fresh-root-check: no Debian mirror in /etc/apt; set ZENTRY_FRESH_SOURCES" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/zentry-fresh-root.XXXXXX")
mounts=()
cleanup() {
  local status=$?
  # A daemon a failed test left behind (a private Postfix) would keep the
  # mounts busy: end the processes that live in this root, by their id.
  local process
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && kill -9 "${process#/proc/}" 2>/dev/null
  done
  local index
  for ((index = ${#mounts[@]} - 1; index >= 0; index--)); do
    umount "${mounts[index]}" 2>/dev/null || umount -l "${mounts[index]}" ||
      echo "fresh-root-check: could not unmount ${mounts[index]}" >&2
  done
  if [ "${ZENTRY_FRESH_KEEP:-0}" = 1 ]; then
    echo "fresh-root-check: root kept in $root"
  elif ! findmnt -rn -o TARGET | grep -qF "$root"; then
    rm -rf --one-file-system "$root"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

started=$SECONDS
stage() { printf '== fresh-root-check: %s (%d s)\n' "$1" $((SECONDS - started)); }

stage "making a Debian 12 minbase root in $root from ${sources[*]}"
mmdebstrap --quiet --mode=root --variant=minbase bookworm "$root" "${sources[@]}"
# Daemons that packages install are not started inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

# Mounted one by one, each remembered as soon as it holds, so that the exit
# trap unmounts exactly what is there.
mount_inside() {
  mount "$@"
  mounts+=("${*: -1}")
}
mount_inside -t proc proc "$root/proc"
mount_inside -t sysfs sysfs "$root/sys"
mount_inside --bind /dev "$root/dev"
mount_inside --bind /dev/pts "$root/dev/pts"
mount_inside -t tmpfs -o mode=1777 shm "$root/dev/shm"

stage "cloning $(git -C "$repo" rev-parse --short HEAD) (committed work only)"
git clone --quiet --no-hardlinks "$repo" "$root/root/zentry"

inside() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${ZENTRY_FUZZ_SECONDS:+ZENTRY_FUZZ_SECONDS=$ZENTRY_FUZZ_SECONDS} \
    /bin/bash -c "cd /root/zentry && $1"
}
stage "tools/example.sh"
inside tools/example.sh
stage "tools/check.sh"
log=$root/root/check.log
inside tools/check.sh 2>&1 | tee "$log"
# The milter tests need root and skip themselves without it: here they must
# have run, in the plain build and under the sanitizers.
postfix_runs=$(grep -cE 'Test +#[0-9]+: Milter\.Postfix \.+ +Passed' "$log" || true)
[ "$postfix_runs" = 2 ] || { echo "fresh-root-check: Milter.Postfix passed $postfix_runs times, not 2" >&2; exit 1; }
stage "passed"
