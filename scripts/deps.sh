#!/usr/bin/env bash
# shellcheck disable=SC2034
# The Debian 12 packages Ombrevault needs, in one place. The start and test scripts
# source this file and install what is missing; run by itself it prints the lists:
#   scripts/deps.sh             every list, each as the line that installs it
#   scripts/deps.sh build|test|packaging
#                               one list, the names only

# Building and running the program; xdg-utils opens the help page in the desktop's
# browser (without it the window shows the page itself).
OV_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libblkid-dev
    xdg-utils
)

# The test suite and the benchmarks besides: GoogleTest, an X server with input and
# screenshots for the end-to-end test, the file systems the tests mount (FUSE among
# them), and the tools that check the desktop files.
OV_TEST_PACKAGES=(
    libgtest-dev libgmock-dev
    xvfb xauth xdotool x11-utils imagemagick
    # The window tests lay the windows out in each font family a desktop may use.
    fonts-dejavu-core fonts-liberation2 fonts-urw-base35
    # A desktop style whose menu bar ignores Alt alone, for the keyboard test.
    adwaita-qt6
    e2fsprogs xfsprogs btrfs-progs dosfstools util-linux
    desktop-file-utils appstream mandoc man-db zsh
    libfuse3-dev fuse3
)

# Building the Debian package (dpkg-buildpackage) and checking it; the suite does both.
OV_PACKAGING_PACKAGES=(
    dpkg-dev debhelper file lintian
)

ov_missing_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    echo "${missing[@]}"
}

# The one line that installs the packages, for root.
ov_install_line() {
    echo "apt-get update && apt-get install -y --no-install-recommends $*"
}

# ov_ensure_packages PACKAGE...: installs those that are missing: as root directly, as
# another user through sudo. Without sudo (or when sudo refuses) it prints the line to
# run as root and ends the script with status 1, since nothing can be built without them.
ov_ensure_packages() {
    local missing
    missing=$(ov_missing_packages "$@")
    [ -z "$missing" ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            ov_ask_root "$missing"
        fi
        sudo=(sudo)
    fi
    echo "Installing: $missing"
    # shellcheck disable=SC2086
    if ! { "${sudo[@]}" apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends $missing; }; then
        [ ${#sudo[@]} -eq 0 ] && exit 1
        ov_ask_root "$missing"
    fi
}

ov_ask_root() {
    {
        echo "These Debian packages are missing, and installing them needs root:"
        echo "  $1"
        echo "Run this line as root (for example after 'su -'), then run $0 again:"
        echo
        echo "  $(ov_install_line "$1")"
        echo
    } >&2
    exit 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    build) echo "${OV_BUILD_PACKAGES[*]}" ;;
    test) echo "${OV_TEST_PACKAGES[*]}" ;;
    packaging) echo "${OV_PACKAGING_PACKAGES[*]}" ;;
    "")
        echo "# To build and run (scripts/start.sh):"
        ov_install_line "${OV_BUILD_PACKAGES[*]}"
        echo "# To run the tests and build the package besides (scripts/test.sh):"
        ov_install_line "${OV_TEST_PACKAGES[*]} ${OV_PACKAGING_PACKAGES[*]}"
        ;;
    *)
        echo "usage: $0 [build|test|packaging]" >&2
        exit 2
        ;;
    esac
fi
