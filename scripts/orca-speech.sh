#!/bin/bash
# What the Orca screen reader says at the end of a run in the window: starts
# an X server, a session bus with the accessibility bus, speech-dispatcher whose one
# voice writes each utterance to a file instead of a sound card, Orca, and the window
# with one file of a temporary folder on its command line; brings the File Cleaner
# forward and presses the delete button by keyboard alone (F10, the arrows, Tab, Space),
# then prints every line Orca spoke while the run ended. Needs xvfb, xdotool, dbus,
# at-spi2-core, speech-dispatcher and orca (installed when missing and run as root).
#
#   scripts/orca-speech.sh [build folder]      (default: build)
#   FAIL=1 scripts/orca-speech.sh [build]      (the file is immutable: a run that fails)
#   DISK=1 scripts/orca-speech.sh [build]      (a free-space run on an 8 MiB volume, as root)
#   KEEP=1 ...                                 (keeps the logs)
set -euo pipefail

build=$(realpath "${1:-build}")
program="$build/bin/ombrevault"
[ -x "$program" ] || program="$build/src/ui/ombrevault"
[ -x "$program" ] || { echo "orca-speech: no program in $build" >&2; exit 2; }

needed=()
for pair in Xvfb:xvfb xdotool:xdotool dbus-run-session:dbus-bin orca:orca \
    speech-dispatcher:speech-dispatcher; do
    command -v "${pair%%:*}" >/dev/null || needed+=("${pair#*:}")
done
[ -x /usr/libexec/at-spi-bus-launcher ] || needed+=(at-spi2-core)
if [ ${#needed[@]} -gt 0 ]; then
    [ "$(id -u)" = 0 ] || { echo "orca-speech: install ${needed[*]}" >&2; exit 2; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${needed[@]}" \
        python3-pyatspi >&2
fi

work=$(mktemp -d)
display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; chattr -i "$work/secret file.bin" 2>/dev/null || true
      umount "$work/small" 2>/dev/null || true
      [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export DISPLAY="$display" HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# speech-dispatcher's generic module runs a command for every utterance: here it
# appends the text to spoken.txt. Sound goes to ALSA's null device, so no card is needed
# (without a running speech-dispatcher Orca stalls at start-up).
mkdir -p "$work/speechd/modules"
cat >"$work/speechd/speechd.conf" <<CONF
LogLevel 3
LogDir "$work"
AddModule "written" "sd_generic" "written.conf"
DefaultModule written
DefaultLanguage "en"
AudioOutputMethod "alsa"
AudioALSADevice "null"
CONF
cat >"$work/speechd/modules/written.conf" <<CONF
GenericExecuteSynth "printf '%s\\\\n' \'\$DATA\' >>$work/spoken.txt"
AddVoice "en" "MALE1" "written"
CONF

head -c 65536 /dev/urandom >"$work/secret file.bin"
start="$work"
if [ -n "${DISK:-}" ]; then
    # The Disk Cleaner starts on the volume of the folder the window starts in.
    start="$work/small"
    mkdir "$start"
    # A small ext2 volume of its own (a tmpfs is memory and is not filled).
    truncate -s 8M "$work/small.img"
    mkfs.ext2 -q "$work/small.img"
    mount -o loop "$work/small.img" "$start" ||
        { echo "orca-speech: DISK needs root to mount a loop device" >&2; exit 2; }
fi
if [ -n "${FAIL:-}" ]; then
    # Immutable: not even root may write it, so the check before the first byte fails.
    chattr +i "$work/secret file.bin" ||
        { echo "orca-speech: FAIL needs root and a file system with chattr" >&2; exit 2; }
fi

# Everything below runs on one private session bus: the accessibility bus, the speech
# server, Orca, the window. The window joins the accessibility bus without a desktop's
# switch.
dbus-run-session -- bash -s "$work" "$program" "$start" <<'SESSION'
set -euo pipefail
work=$1 program=$2 start=$3
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
speech-dispatcher --run-single --timeout 0 --config-dir "$work/speechd" --log-dir "$work" \
    >"$work/speechd.out" 2>&1 &
speechd=$!
sleep 1
orca --user-prefs "$work/orca" --debug-file "$work/orca.log" >"$work/orca.out" 2>&1 &
orca=$!
# Orca is ready once it has said so.
for _ in $(seq 600); do
    grep -q "Screen reader on" "$work/spoken.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q "Screen reader on" "$work/spoken.txt" 2>/dev/null ||
    { echo "orca-speech: Orca did not start (logs in $work)" >&2; exit 1; }
cd "$start"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$program" "$work/secret file.bin" \
    >"$work/window.log" 2>&1 &
window=$!
for _ in $(seq 100); do
    id=$(xdotool search --name '^Ombrevault$' 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.1
done
xdotool windowfocus --sync "$id"
# Orca speaks the window as it becomes active: wait for that before the keys.
for _ in $(seq 100); do
    grep -q "Ombrevault" "$work/spoken.txt" && break
    sleep 0.1
done
sleep 1
key() { xdotool key --clearmodifiers "$@"; sleep 0.6; }
if [ -n "${DISK:-}" ]; then
    key Tab # from the drive list to "Clean Selected Drive"
else
    key F10             # File
    key Right           # View, its first item: File Cleaner
    key Return
    key Tab Tab Tab Tab Tab # from the list to the delete button
fi
before=$(wc -l <"$work/spoken.txt")
# Waits until Orca has been silent for two seconds.
quiet() {
    local lines=-1 same=0
    while [ "$same" -lt 20 ]; do
        now=$(wc -l <"$work/spoken.txt")
        if [ "$now" = "$lines" ]; then same=$((same + 1)); else same=0 lines=$now; fi
        sleep 0.1
    done
}
key space
quiet
if [ -n "${FAIL:-}" ]; then
    key Return # closes the error box
    quiet
fi
[ -n "${DISK:-}" ] || echo "file destroyed: $([ -e "$work/secret file.bin" ] && echo no || echo yes)"
echo "--- what Orca spoke after Space (speech-dispatcher's utterances; logs in $work)"
tail -n +"$((before + 1))" "$work/spoken.txt" | sed 's/^ *//'
kill "$window" "$orca" "$speechd" 2>/dev/null || true
SESSION
