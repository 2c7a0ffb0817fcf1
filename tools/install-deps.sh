#!/bin/sh
# Installs what the build, the tests, the demo and the benchmarks need, from Debian's packages only.
# Says what it installs; installs nothing when everything is there, after one quick query.
set -e
pkgs="g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 cmake make
      wine wine64 xvfb xdotool python3 procps strace lua5.4 mingw-w64-tools"
# One dpkg-query for all: a package it does not list, or lists as not fully installed, is missing.
# shellcheck disable=SC2086
installed=$(dpkg-query -W -f='${db:Status-Abbrev}${Package}\n' $pkgs 2>/dev/null | sed -n 's/^ii *//p' || true)
need=""
for pkg in $pkgs; do
    echo "$installed" | grep -qxF "$pkg" || need="$need $pkg"
done
[ -z "$need" ] && exit 0
echo "installing:$need"
if [ "$(id -u)" != 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root:$need" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null || true
# shellcheck disable=SC2086
apt-get install -y -q $need >/dev/null
echo "installed:$need"
