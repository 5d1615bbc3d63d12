#!/usr/bin/env bash
# Installs everything that tools/example.sh and tools/check.sh need on a
# fresh Debian 12 machine; packages already present are left alone, so a
# second run costs nothing. tools/fresh-root-check.sh proves the list
# complete in a clean root.
set -euo pipefail
packages=(
  # the build, and the libraries the programs and the tests link
  cmake ninja-build g++ pkg-config libarchive-dev libytnef0-dev libmilter-dev nettle-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the scripts the tests and benchmarks run, and lint.sh's file list
  python3 git
  # static checks (lint.sh)
  clang clang-tidy clang-format cppcheck
  # libFuzzer and the sanitizers' runtime for clang (fuzz.sh), valgrind (valgrind.sh)
  libclang-rt-14-dev valgrind
  # the .deb: dependencies from dpkg-shlibdeps, Debian's checks, its manual pages read back (test-deb.sh)
  dpkg-dev lintian man-db
  # the delivery agents of the recipes (Host.Recipes), a real Postfix and an SMTP client (Milter.Postfix)
  procmail maildrop postfix swaks
  # peak memory and the archive peer in the benchmarks and their tests
  time libarchive-tools
  # the disk images the archive tests make
  genisoimage mtools dosfstools qemu-utils
  # promtool, which checks the milter's metrics and the example alerts
  prometheus
)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  # Postfix is only run as private instances with a configuration of their
  # own: the system's mail setup is left unconfigured and not started.
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
