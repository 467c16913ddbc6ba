# Shared by the start and test scripts: installs the Debian packages the build and the
# tests need, when any is missing. Sourced, not run.

OV_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libblkid-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool x11-utils imagemagick
    # The window tests lay the windows out in each font family a desktop may use.
    fonts-dejavu-core fonts-liberation2 fonts-urw-base35
    e2fsprogs xfsprogs btrfs-progs dosfstools util-linux
)

ov_missing_packages() {
    local missing=() pkg
    for pkg in "${OV_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    echo "${missing[@]}"
}

ov_ensure_packages() {
    local missing
    missing=$(ov_missing_packages)
    [ -z "$missing" ] && return 0
    echo "Installing: $missing"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends $missing
}
