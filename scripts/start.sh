#!/usr/bin/env bash
# Builds Ombrevault and starts its window. The arguments go to the program as you type
# them, in the folder you are in: `scripts/start.sh notes.txt` puts ./notes.txt on the
# pending list (the whole argument text is one entry; `--files A B` makes one per file).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build
if [ ! -x "$build/bin/ombrevault" ]; then
    echo "A first start installs what Ombrevault needs and builds it in $build;"
    echo "that takes a few minutes. Later starts take seconds."
fi
# shellcheck source=scripts/deps.sh
source "$repo/scripts/deps.sh"
ov_ensure_packages "${OV_BUILD_PACKAGES[@]}"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target ombrevault ombrevault-cli
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here (DISPLAY is not set), so the window cannot open."
    echo "The command-line companion works without one:"
    echo
    exec "$build/bin/ombrevault-cli" --help
fi
exec "$build/bin/ombrevault" "$@"
