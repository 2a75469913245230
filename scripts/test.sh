#!/usr/bin/env bash
# Installs what is missing, builds VornTerm with its tests and runs every
# test: the suites under ctest (headless), the threaded suites again
# under ThreadSanitizer, every suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, a bounded libFuzzer run of each fuzz target
# (clang), and a cross-compile of the Windows-only sources.
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
cmake --build "$root/build-tsan" -j"$jobs" --target tst_receivethreads tst_receivepath tst_transmit tst_port tst_portserial tst_inputlog tst_logindex tst_reopen tst_netport tst_lines
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir "$root/build-tsan" --output-on-failure --no-tests=error -R '^(tst_receivethreads|tst_receivepath|tst_transmit|tst_port|tst_portserial|tst_inputlog|tst_logindex|tst_reopen|tst_netport|tst_lines)$'

echo "== every suite again, under AddressSanitizer and UndefinedBehaviorSanitizer"
# -O1 and no benchmarks keep this tree quick to build; the first fault stops a suite.
cmake -S "$root" -B "$root/build-asan" -DVORNTERM_SANITIZE=address,undefined -DVORNTERM_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
  -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  ctest --test-dir "$root/build-asan" --output-on-failure --no-tests=error -j"$jobs"

echo "== fuzzing the byte readers, about a minute each"
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DVORNTERM_FUZZ=ON \
  -DVORNTERM_TESTS=OFF -DVORNTERM_BENCH=OFF >/dev/null
fuzzers=(fuzz_settings fuzz_datalayout fuzz_telnet fuzz_logindex fuzz_xmodem)
cmake --build "$root/build-fuzz" -j"$jobs" --target "${fuzzers[@]}"
mkdir -p "$root/build-fuzz/artifacts"
for f in "${fuzzers[@]}"; do
  # New inputs go to a scratch folder; the seeds in the repository stay as they are.
  mkdir -p "$root/build-fuzz/corpus/$f"
  if ! "$root/build-fuzz/fuzz/$f" -max_total_time="${VORNTERM_FUZZ_SECONDS:-60}" -timeout=10 \
       -print_final_stats=1 -artifact_prefix="$root/build-fuzz/artifacts/$f-" \
       "$root/build-fuzz/corpus/$f" "$root/fuzz/corpus/$f" >"$root/build-fuzz/$f.log" 2>&1; then
    tail -n 60 "$root/build-fuzz/$f.log"
    echo "$f failed; the input is in $root/build-fuzz/artifacts/" >&2
    exit 1
  fi
  grep -E '^(Done|stat::average_exec_per_sec)' "$root/build-fuzz/$f.log" | sed "s/^/$f: /"
done

if [[ -x "$root/scripts/check-win-facts.sh" ]]; then
  echo "== Windows sources, cross-compiled"
  "$root/scripts/check-win-facts.sh"
fi
