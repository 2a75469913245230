#!/usr/bin/env bash
# Runs bench_pacedrate on a private X server (Xvfb) inside a private session
# bus with the accessibility bus, so that its a11y cases can turn the bridge
# on (the bus says accessibility is off; only those runs ask for it).
#   bench/pacedrate.sh BENCH_PACEDRATE [its arguments...]
# GTKTerm is added as a peer of bench_pacedrate when it is installed. The
# screen is 1024x768 unless PACEDRATE_SCREEN says otherwise (e.g. 1920x1080x24).
# Any other benchmark that takes --xserver PID runs the same way.
set -euo pipefail
bench="$(realpath "$1")"
shift
launcher=/usr/libexec/at-spi-bus-launcher

if [[ "${PACEDRATE_INSIDE:-}" != 1 ]]; then
  for tool in Xvfb dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/deps.sh --test)" >&2; exit 1; }
  done
  [[ -x $launcher ]] || { echo "at-spi2-core is missing (scripts/deps.sh --test)" >&2; exit 1; }
  PACEDRATE_INSIDE=1 exec dbus-run-session -- "$0" "$bench" "$@"
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 "${PACEDRATE_SCREEN:-1024x768x24}" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

"$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true && break
  sleep 0.1
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
  variant:boolean:false >/dev/null

peers=()
if [[ $(basename "$bench") == bench_pacedrate ]] && command -v gtkterm >/dev/null; then
  peers+=(--peer "GTKTerm=gtkterm --port {port} --speed {baud}")
fi
unset QT_QPA_PLATFORM QT_LINUX_ACCESSIBILITY_ALWAYS_ON
"$bench" --xserver "$xvfb" "${peers[@]}" "$@"
