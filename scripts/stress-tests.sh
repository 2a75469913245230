#!/usr/bin/env bash
# Runs the ctest suites again and again while every core is kept busy, to
# bring out tests that depend on timing. A developers' tool: scripts/test.sh
# does not call it.
#
#   scripts/stress-tests.sh [-n RUNS] [-R REGEX] [-j JOBS] [BUILD_DIR]
#
# RUNS: how many times (default $VORNTERM_STRESS_RUNS, else 10). REGEX picks
# suites as ctest -R does. JOBS: suites at once (default the core count).
# BUILD_DIR: a configured tree such as build-asan (default build/, configured
# when missing); it is brought up to date first. Each failing suite's output
# is shown and kept in BUILD_DIR/stress/; the exit status is 1 when anything
# failed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${VORNTERM_STRESS_RUNS:-10}"
jobs="$(nproc)"
filter=()
while getopts "n:R:j:h" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    R) filter=(-R "$OPTARG") ;;
    j) jobs="$OPTARG" ;;
    h) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive number" >&2; exit 2; }
build="$(realpath -m "${1:-$root/build}")"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  [[ $# -eq 0 ]] || { echo "$build is not a configured build tree" >&2; exit 2; }
  cmake -S "$root" -B "$build" -DVORNTERM_TESTS=ON -DVORNTERM_BENCH=OFF -DVORNTERM_SANITIZE= >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

# The sanitizer trees need the settings scripts/test.sh gives them; the others ignore them.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/tsan.supp}"

# The load: one busy loop per core, ended by its pid when this script ends,
# and by `timeout` (runs x 20 min) should this script be killed outright.
load=()
trap 'kill "${load[@]}" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < $(nproc); ++i)); do
  timeout "$((runs * 1200))" sh -c 'while :; do :; done' &
  load+=($!)
done

logs="$build/stress"
rm -rf "$logs"
mkdir -p "$logs"
list="$build/Testing/Temporary/LastTestsFailed.log" # ctest's own record of a run
declare -A failures=()
failed_runs=0
for ((run = 1; run <= runs; ++run)); do
  log="$logs/run-$run.log"
  rm -f "$list"
  if ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" "${filter[@]}" \
       >"$log" 2>&1; then
    echo "run $run/$runs: passed ($(grep -o 'Total Test time.*' "$log"))"
    rm -f "$log"
    continue
  fi
  failed_runs=$((failed_runs + 1))
  names="ctest" # when ctest itself failed
  [[ -f "$list" ]] && names=$(cut -d: -f2 "$list" | xargs)
  for name in $names; do
    failures[$name]=$((${failures[$name]:-0} + 1))
  done
  echo "run $run/$runs: FAILED: $names (output in $log)"
  grep -vE '^ *(Start +[0-9]+:|[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed)' "$log" | sed 's/^/    /'
done

summary=""
for name in $(printf '%s\n' "${!failures[@]}" | sort); do
  summary+=" $name ${failures[$name]}/$runs;"
done
echo "stress: $runs runs of $build${filter[*]:+ (${filter[*]})}: $failed_runs failed;${summary:- no suite failed}"
((failed_runs == 0))
