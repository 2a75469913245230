#!/bin/sh
# Compiles the Windows system-facts queries with the 32-bit MinGW cross
# compiler, warnings as errors, and checks the other Windows-only files.
# Needs the Debian package g++-mingw-w64-i686.
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

# The other Windows-only files need Qt, which exists here only for Linux: they
# are checked for syntax and warnings against this machine's Qt headers.
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
set --
for m in QtCore QtGui QtWidgets QtSerialPort QtNetwork; do set -- "$@" -isystem "$qt/$m"; done
for d in $(find "$here/src" -name "*.h" -exec dirname {} \; | sort -u); do set -- "$@" -I"$d"; done
for f in $(find "$here/src" -name "*_win.cpp" | sort); do
    [ "$(basename "$f")" = SysInfoFacts_win.cpp ] && continue
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -DQT_NO_KEYWORDS -isystem "$qt" "$@" "$f"
    echo "check-win-facts: $(basename "$f") is well-formed"
done
