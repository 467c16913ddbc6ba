# shellcheck shell=bash disable=SC2034
# Shared by the start and test scripts: installs the Debian packages they need, when any
# is missing. Sourced, not run.

# Building and running the program; xdg-utils opens the help page.
OV_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libblkid-dev
    xdg-utils
)

# The test suite and the benchmarks besides: GoogleTest, an X server with input and
# screenshots for the end-to-end test, the file systems the tests mount, and the tools
# that check the package and the desktop files.
OV_TEST_PACKAGES=(
    libgtest-dev libgmock-dev
    xvfb xauth xdotool x11-utils imagemagick
    # The window tests lay the windows out in each font family a desktop may use.
    fonts-dejavu-core fonts-liberation2 fonts-urw-base35
    e2fsprogs xfsprogs btrfs-progs dosfstools util-linux
    dpkg-dev lintian desktop-file-utils appstream mandoc man-db zsh
    libfuse3-dev fuse3
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

# ov_ensure_packages PACKAGE...: installs those that are missing (with sudo when not root).
ov_ensure_packages() {
    local missing
    missing=$(ov_missing_packages "$@")
    [ -z "$missing" ] && return 0
    echo "Installing: $missing"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends $missing
}
