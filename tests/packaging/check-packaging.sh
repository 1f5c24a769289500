#!/usr/bin/env bash
# Installs the project into a temporary DESTDIR and checks what lands there, validates the
# desktop entries and the metainfo, builds the Debian package and lists it, then (as root)
# installs the package, runs cueprune from it and removes it again.
# Usage: check-packaging.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

expected=(
    usr/bin/cuefolder
    usr/bin/cuefile
    usr/bin/cueprune
    usr/share/applications/org.cuetools.cuefolder.desktop
    usr/share/applications/org.cuetools.cuefile.desktop
    usr/share/icons/hicolor/scalable/apps/org.cuetools.cuetools.svg
    usr/share/metainfo/org.cuetools.cuetools.metainfo.xml
    usr/share/man/man1/cueprune.1
)

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
for file in "${expected[@]}"; do
    [ -f "$work/root/$file" ] || fail "cmake --install did not place $file"
done
installed=$(cd "$work/root" && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "cmake --install placed other files: $installed"

for entry in "$work"/root/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
done
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.cuetools.cuetools.metainfo.xml" \
    >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate"; }

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for file in "${expected[@]}"; do
    grep -q " \./$file\$" <<<"$contents" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6widgets6 libqt6gui6 libc6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing the package needs root"
    exit 77
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }
reported=$(/usr/bin/cueprune --version)
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq cuetools >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get remove"; }
[ "$reported" = "cueprune $version" ] || fail "installed cueprune says: $reported"
[ ! -e /usr/bin/cueprune ] || fail "cueprune is still there after removal"
