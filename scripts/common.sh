# shellcheck shell=bash
# shellcheck disable=SC2034 # BUILD_PACKAGES is read by the scripts that source this file
# Shared by scripts/run and scripts/test: installs what the build needs and builds.

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libuchardet-dev libqt6svg6)

# Installs the Debian packages of "$@" that are missing: as root with apt-get, otherwise
# through sudo; without either, prints the exact list and stops.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local apt_get
    if [ "$(id -u)" -eq 0 ]; then
        apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get)
    elif command -v sudo >/dev/null 2>&1; then
        apt_get=(sudo env DEBIAN_FRONTEND=noninteractive apt-get)
    else
        echo "Missing Debian packages; install them as root with:" >&2
        echo "  apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing Debian packages: ${missing[*]}"
    "${apt_get[@]}" update -qq
    "${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds the targets named ("all" for everything).
build_project() {
    cmake --preset default
    cmake --build --preset default --target "$@"
}
