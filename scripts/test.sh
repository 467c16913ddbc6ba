#!/usr/bin/env bash
# Builds Ombrevault with its tests and runs the whole suite.
#   scripts/test.sh             the ordinary build (build/)
#   scripts/test.sh --sanitize  with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   scripts/test.sh --tsan      the engine and command-line tests with ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh
ov_ensure_packages "${OV_BUILD_PACKAGES[@]}" "${OV_TEST_PACKAGES[@]}" "${OV_PACKAGING_PACKAGES[@]}"
# Everything the end-to-end test needs is installed now: it must not skip.
export OV_E2E_REQUIRED=1

build_dir=build
ctest_args=()
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON)
targets=(all)
if [ "${1:-}" = "--tsan" ]; then
    build_dir=build-tsan
    cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_TSAN=ON -DBUILD_TESTING=ON -DOV_BUILD_BENCH=OFF)
    targets=(ombrevault-cli ov_tests)
    # The tests fork to mount volumes and run tools while threads of theirs are running.
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0"
    # Left out: the tests that mount volumes and then query them on the engine's threads
    # in the same process. Once a process has started a program through QProcess (mkfs,
    # mount), ThreadSanitizer intermittently stops seeing its main thread's mutex locks and
    # reports races on data both threads touch under one mutex: a 30-line program with one
    # QProcess and one mutex does the same. The command-line tests run that code under
    # ThreadSanitizer in processes that start nothing. The window's runner hands calls
    # back through Qt's event queue, whose locking ThreadSanitizer cannot see (Qt is not
    # built with it): its own test is left out too. Also left out, for time: the four
    # tests that take five to ten minutes each under ThreadSanitizer (the 4 GiB and 8 GiB
    # files, the watched FUSE run, one forensic fill).
    ctest_args=(-E '^(DriveMountedVolumes|DiskRunMounted|DiskRunForensic|DiskNames)[./]|^OffThread[.]EveryDiskCall|^QtLoop[.]|SparseFilesAreWiped|FilesOverFourGibibytes')
elif [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-asan
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON -DBUILD_TESTING=ON -DOV_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}"
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300 "${ctest_args[@]}"
