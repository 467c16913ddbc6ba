#!/usr/bin/env bash
# Builds Ombrevault with its tests and runs the whole suite.
#   scripts/test.sh             the ordinary build (build/)
#   scripts/test.sh --sanitize  with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh
ov_ensure_packages "${OV_BUILD_PACKAGES[@]}" "${OV_TEST_PACKAGES[@]}" "${OV_PACKAGING_PACKAGES[@]}"
# Everything the end-to-end test needs is installed now: it must not skip.
export OV_E2E_REQUIRED=1

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-asan
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON -DBUILD_TESTING=ON -DOV_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300
