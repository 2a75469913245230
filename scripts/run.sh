#!/usr/bin/env bash
# Installs what is missing, builds VornTerm and starts it in the current
# directory (where it keeps VornTerm.cfg and its daily logs).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DVORNTERM_TESTS=OFF -DVORNTERM_BENCH=OFF -DVORNTERM_SANITIZE= >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target vornterm vornterm-cfg
exec "$root/build/vornterm"
