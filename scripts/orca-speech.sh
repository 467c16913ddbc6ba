#!/bin/bash
# What the Orca screen reader says at the end of a deletion run in the window: starts
# an X server, a session bus with the accessibility bus, Orca with its debug log, and the
# window with one file of a temporary folder on its command line; brings the File Cleaner
# forward and presses the delete button by keyboard alone (F10, the arrows, Tab, Space),
# then prints every line Orca spoke. Needs xvfb, xdotool, dbus, at-spi2-core and orca.
#
#   scripts/orca-speech.sh [build folder]      (default: build)
set -euo pipefail

build=$(realpath "${1:-build}")
program="$build/bin/ombrevault"
[ -x "$program" ] || program="$build/src/ui/ombrevault"
for tool in Xvfb xdotool dbus-run-session orca; do
    command -v "$tool" >/dev/null || { echo "orca-speech: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export DISPLAY="$display" HOME="$work" XDG_CONFIG_HOME="$work/config"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

head -c 65536 /dev/urandom >"$work/secret file.bin"

# Everything below runs on one private session bus: the accessibility bus, Orca, the
# window. The window joins the accessibility bus without a desktop's switch.
dbus-run-session -- bash -s "$work" "$program" <<'SESSION'
set -euo pipefail
work=$1 program=$2
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
sleep 1
orca --user-prefs "$work/orca" --debug-file "$work/orca.log" >"$work/orca.out" 2>&1 &
orca=$!
# Orca is ready once it listens for the windows' events (slow on a busy machine).
for _ in $(seq 600); do
    grep -q "registering listener for: window:destroy" "$work/orca.log" 2>/dev/null && break
    sleep 0.1
done
sleep 2
cd "$work"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$program" "$work/secret file.bin" \
    >"$work/window.log" 2>&1 &
window=$!
for _ in $(seq 100); do
    id=$(xdotool search --name '^Ombrevault$' 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.1
done
xdotool windowfocus --sync "$id"
sleep 1
key() { xdotool key --clearmodifiers "$@"; sleep 0.6; }
key F10             # File
key Right           # View, its first item: File Cleaner
key Return
key Tab Tab Tab Tab Tab # from the list to the delete button
key space
for _ in $(seq 100); do [ -e "$work/secret file.bin" ] || break; sleep 0.1; done
sleep 5
echo "file destroyed: $([ -e "$work/secret file.bin" ] && echo no || echo yes)"
echo "--- what Orca spoke (logs in $work)"
grep -a "SPEECH OUTPUT" "$work/orca.log" | sed 's/^.*SPEECH OUTPUT: //' || true
kill "$window" "$orca" 2>/dev/null || true
SESSION
