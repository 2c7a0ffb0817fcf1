#!/bin/sh
# Installs what the build, the tests, the demo and the benchmarks need, from Debian's packages only.
# Says what it installs; installs nothing when everything is there.
set -e
need=""
for pkg in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 cmake make \
           wine wine64 xvfb xdotool python3 procps strace lua5.4 \
           mingw-w64-tools; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need="$need $pkg"
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
