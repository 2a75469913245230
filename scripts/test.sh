#!/usr/bin/env bash
# The test command. Installs what is missing, then
#
#   scripts/test.sh          the quick run: the architecture page's check, a
#                            build of the programs and every suite (no
#                            benchmarks), every suite under ctest (headless)
#                            and the install checks;
#   scripts/test.sh --full   the quick run, then the rest of the matrix: the
#                            benchmarks built and each started once briefly, the
#                            threaded suites under ThreadSanitizer, every suite
#                            under ASan and UBSan, a bounded libFuzzer run of each
#                            fuzz target (clang), the Windows-only sources
#                            through the MinGW cross compiler.
#
# Trees: build/ (the programs, the suites, with --full the benchmarks), and
# with --full build-tsan/, build-asan/ and build-fuzz/. Every step prints
# how long it took. VORNTERM_FUZZ_SECONDS sets each fuzzer's time (default 60).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"
full=0
case "${1:-}" in
  "") ;;
  --full) full=1 ;;
  -h | --help) sed -n '2,18s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "test.sh: unknown argument '$1'; usage: scripts/test.sh [--full]" >&2; exit 2 ;;
esac
(($# <= 1)) || { echo "test.sh: too many arguments; usage: scripts/test.sh [--full]" >&2; exit 2; }

# Each step's name, and its time when the next one begins.
start=$SECONDS
step_name=""
step_start=$SECONDS
step() {
  [[ -z $step_name ]] || echo "   ($step_name: $((SECONDS - step_start)) s)"
  step_name="$1"
  step_start=$SECONDS
  [[ -z $step_name ]] || echo "== $step_name"
}

"$root/scripts/deps.sh" --test
export QT_QPA_PLATFORM=offscreen
asan_options="detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1"
ubsan_options="halt_on_error=1:print_stacktrace=1"
tsan_options="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/tsan.supp"

# The suites that start threads of their own or drive the port's thread.
threaded_suites=(tst_receivethreads tst_receivepath tst_transmit tst_port tst_portserial
                 tst_inputlog tst_logindex tst_reopen tst_netport tst_lines tst_arrivaltimes
                 tst_plotwindow tst_xmodemlrzsz tst_xferwindow)
regex() { local IFS='|'; echo "^($*)\$"; }

# The architecture page names every lock, condition variable and thread; its
# check takes a second, so it comes first.
if [[ -f $root/scripts/check-architecture.sh ]]; then
  step "the architecture page against the code"
  (cd "$root" && bash scripts/check-architecture.sh)
fi

step "build"
bench=OFF
((full)) && bench=ON
# Line tables only (-g1): a fault's backtrace still names files and lines,
# without the compile and link time of full debugging information.
cmake -S "$root" -B "$root/build" -DVORNTERM_TESTS=ON -DVORNTERM_BENCH="$bench" -DVORNTERM_SANITIZE= \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$root/build" -j"$jobs"

step "every suite"
# Most suites wait on pseudo-terminals, servers and timers, so twice as many
# run at once as there are cores.
# The quick run leaves the Windows cross-compile to --full's own step.
quick=()
((full)) || quick=(env VORNTERM_QUICK=1)
"${quick[@]}" ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j"$((2 * jobs))"

step "install checks"
"$root/scripts/check-install.sh" "$root/build"

if ((!full)); then
  step ""
  echo "test.sh: passed in $((SECONDS - start)) s (scripts/test.sh --full runs the rest of the matrix)"
  exit 0
fi

step "benchmarks, each started once briefly"
# Their figures come from longer runs (bench/README.md); here each one only
# has to start, measure and end cleanly. bench_pacedrate needs a desktop and
# a device and is run by bench/pacedrate.sh.
smoke=("bench_dataview 3" "bench_find 1" "bench_appendtext 0.2" "bench_inputlog 4096 4"
       "bench_lines 1 3" "bench_arrival 2 115200 1" "bench_sendfile 1 echo" "bench_endtoend 1 hex 1")
for run in "${smoke[@]}"; do
  read -r -a args <<<"$run"
  (cd "$root/build" && timeout 300 "bench/${args[0]}" "${args[@]:1}" >"bench/${args[0]}.log" 2>&1) || {
    tail -n 30 "$root/build/bench/${args[0]}.log"
    echo "test.sh: '$run' failed; its output is in build/bench/${args[0]}.log" >&2
    exit 1
  }
  echo "$run: ok"
done

step "the threaded suites again, under ThreadSanitizer"
cmake -S "$root" -B "$root/build-tsan" -DVORNTERM_SANITIZE=thread -DVORNTERM_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-tsan" -j"$jobs" --target "${threaded_suites[@]}"
TSAN_OPTIONS="$tsan_options" \
  ctest --test-dir "$root/build-tsan" --output-on-failure --no-tests=error -R "$(regex "${threaded_suites[@]}")"

step "every suite again, under AddressSanitizer and UndefinedBehaviorSanitizer"
# -O1 and no benchmarks keep this tree quick to build; the first fault stops a
# suite.
cmake -S "$root" -B "$root/build-asan" -DVORNTERM_SANITIZE=address,undefined -DVORNTERM_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
  -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
ASAN_OPTIONS="$asan_options" UBSAN_OPTIONS="$ubsan_options" \
  ctest --test-dir "$root/build-asan" --output-on-failure --no-tests=error -j"$jobs"

step "fuzzing the byte readers, about a minute each"
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

step "Windows sources, cross-compiled"
"$root/scripts/check-win-facts.sh"

step ""
echo "test.sh --full: passed in $((SECONDS - start)) s"
