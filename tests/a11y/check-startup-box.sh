#!/usr/bin/env bash
# Checks that a message box shown during start-up reaches assistive
# technology: runs PROGRAM under a private X server (Xvfb), a private session
# bus and the accessibility bus, in a temporary folder with a damaged
# VornTerm.cfg, and lets startup_box.py listen as a screen reader would.
#   tests/a11y/check-startup-box.sh PROGRAM
# Skips (exit 0, saying so) only when the tools are not installed; scripts/deps.sh
# --test installs them.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$(realpath "$1")"
launcher=/usr/libexec/at-spi-bus-launcher

if [[ "${2:-}" != --inside ]]; then
  missing=()
  command -v Xvfb >/dev/null || missing+=(xvfb)
  command -v dbus-run-session >/dev/null || missing+=(dbus-daemon)
  [[ -x $launcher ]] || missing+=(at-spi2-core)
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing+=(python3-pyatspi)
  if ((${#missing[@]})); then
    echo "SKIP startup box accessibility: missing ${missing[*]}"
    exit 0
  fi
  # The bus daemons' chatter goes to a file; the check speaks on fd 3.
  log="$(mktemp)"
  trap 'rm -f "$log"' EXIT
  exec 3>&2
  rc=0
  timeout 60 dbus-run-session -- "$0" "$program" --inside 2>"$log" || rc=$?
  ((rc == 0)) || { echo "session bus output:"; cat "$log"; } >&2
  exit "$rc"
fi

# Inside the private session bus.
exec 2>&3 3>&-
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

"$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true && break
  sleep 0.1
done
# What a screen reader does when it starts: tell the toolkits it is there.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
  variant:boolean:true >/dev/null

# A settings file cut short after its signature.
mkdir "$work/run"
printf 'KRPC\001' >"$work/run/VornTerm.cfg"
unset QT_QPA_PLATFORM QT_LINUX_ACCESSIBILITY_ALWAYS_ON AT_SPI_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb
/usr/bin/python3 "$here/startup_box.py" "$program" "$work/run"
