#!/bin/sh
# Compiles the Windows system-facts queries with the 32-bit MinGW cross
# compiler, warnings as errors. Needs the Debian package g++-mingw-w64-i686.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-i686-w64-mingw32-g++}
if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "check-win-facts: $cxx not found (install g++-mingw-w64-i686)" >&2
    exit 2
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$cxx" -std=c++17 -Wall -Wextra -Werror -c "$here/src/about/SysInfoFacts_win.cpp" \
    -o "$out/SysInfoFacts_win.o"
echo "check-win-facts: SysInfoFacts_win.cpp compiles cleanly"
