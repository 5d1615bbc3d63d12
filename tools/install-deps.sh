#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine; packages
# already present are left alone, so a second run costs nothing.
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev libbenchmark-dev libarchive-dev
  libytnef0-dev libarchive-tools libmilter-dev nettle-dev time procmail maildrop lintian prometheus
  # the disk images the archive tests make
  genisoimage mtools dosfstools qemu-utils)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
