#!/bin/bash
# Pictures of the windows as a low-vision user sets the desktop up: a 12-point font and a
# dark palette (qt6ct's "darker"), at the screen scales 1 and 2, under Xvfb. Writes PNG
# files of the main window on each panel, the options, the log viewer and the About box
# into the given folder. Needs xvfb, xdotool, imagemagick and qt6ct.
#
#   scripts/screenshots.sh [build folder] [output folder]   (default: build, build/shots)
set -euo pipefail

build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/shots}")
program="$build/bin/ombrevault"
[ -x "$program" ] || program="$build/src/ui/ombrevault"
mkdir -p "$out"

work=$(mktemp -d)
display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 2600x1800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY="$display" HOME="$work" XDG_CONFIG_HOME="$work/config"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$XDG_CONFIG_HOME/qt6ct"
cat >"$XDG_CONFIG_HOME/qt6ct/qt6ct.conf" <<CONF
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
[Fonts]
general="DejaVu Sans,12,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
fixed="DejaVu Sans Mono,12,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
CONF
echo "[1 - 2] : a line of the log" >"$work/log.txt"

shot() { # window name pattern, file
    local id
    for _ in $(seq 50); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) && [ -n "$id" ] && break
        sleep 0.1
    done
    sleep 0.8
    import -window "$id" "$out/$2.png"
}
key() { xdotool key --clearmodifiers "$@"; sleep 0.5; }

for scale in 1 2; do
    cd "$work"
    QT_QPA_PLATFORMTHEME=qt6ct QT_SCALE_FACTOR=$scale "$program" "$work/$(printf 'a%.0s' $(seq 90))/long path/the file's name.txt" \
        >"$work/window.log" 2>&1 &
    window=$!
    shot '^Ombrevault$' "disk-x$scale"
    id=$(xdotool search --onlyvisible --name '^Ombrevault$' | head -1)
    xdotool windowfocus --sync "$id"
    key F10 Right Return # View, File Cleaner
    shot '^Ombrevault$' "file-x$scale"
    key F10 Right Down Down Return # View, Options
    shot '^Options$' "options-x$scale"
    key Escape
    xdotool windowfocus --sync "$id"
    key F10 Right Left Return # File, View Logs
    shot 'Log' "log-x$scale" || true
    key Escape
    xdotool windowfocus --sync "$id"
    key F10 Left Down Return # Help, About
    shot '^About' "about-x$scale"
    kill "$window" 2>/dev/null || true
    wait "$window" 2>/dev/null || true
done
ls "$out"
