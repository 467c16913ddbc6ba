#!/usr/bin/env bash
# Builds Ombrevault and starts its window; arguments go to the program (a file to put on
# the pending list, say).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ov_ensure_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ombrevault ombrevault-cli
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here (DISPLAY is not set), so the window cannot open."
    echo "The command-line companion works without one:"
    echo
    exec build/bin/ombrevault-cli --help
fi
exec build/bin/ombrevault "$@"
