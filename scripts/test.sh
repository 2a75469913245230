#!/usr/bin/env bash
# Installs what is missing, builds VornTerm with its tests and runs every
# test: the suites under ctest (headless), the threaded suites again
# under ThreadSanitizer, and a cross-compile of the Windows-only sources.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"
"$root/scripts/deps.sh" --test
export QT_QPA_PLATFORM=offscreen

echo "== build and test"
cmake -S "$root" -B "$root/build" -DVORNTERM_TESTS=ON -DVORNTERM_BENCH=ON -DVORNTERM_SANITIZE= >/dev/null
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j"$jobs"
"$root/scripts/check-install.sh" "$root/build"

echo "== the threaded suites again, under ThreadSanitizer"
cmake -S "$root" -B "$root/build-tsan" -DVORNTERM_SANITIZE=thread -DVORNTERM_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-tsan" -j"$jobs" --target tst_receivethreads tst_receivepath tst_transmit tst_port tst_portserial tst_inputlog tst_reopen tst_netport
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir "$root/build-tsan" --output-on-failure --no-tests=error -R '^(tst_receivethreads|tst_receivepath|tst_transmit|tst_port|tst_portserial|tst_inputlog|tst_reopen|tst_netport)$'

if [[ -x "$root/scripts/check-win-facts.sh" ]]; then
  echo "== Windows sources, cross-compiled"
  "$root/scripts/check-win-facts.sh"
fi
