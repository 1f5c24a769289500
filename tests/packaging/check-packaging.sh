#!/usr/bin/env bash
# Installs the project into a temporary DESTDIR and checks what lands there, validates the
# desktop entries, the metainfo, the man pages and the bash completion, then builds the Debian package, checks its
# contents, fields and lintian's verdict, unpacks it into a temporary folder, runs cueprune from
# there, and asks apt whether it could install it. Nothing is installed on this machine.
# Usage: check-packaging.sh BUILD_DIR VERSION ID_BASE
set -euo pipefail
build=$1
version=$2
id_base=$3
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
    "usr/share/applications/$id_base.cuefolder.desktop"
    "usr/share/applications/$id_base.cuefile.desktop"
    "usr/share/icons/hicolor/scalable/apps/$id_base.cueprune.svg"
    "usr/share/metainfo/$id_base.cueprune.metainfo.xml"
    usr/share/man/man1/cuefolder.1.gz
    usr/share/man/man1/cuefile.1.gz
    usr/share/man/man1/cueprune.1.gz
    usr/share/doc/cueprune/changelog.gz
    usr/share/doc/cueprune/copyright
    usr/share/bash-completion/completions/cueprune
    usr/share/zsh/vendor-completions/_cueprune
    usr/share/fish/vendor_completions.d/cueprune.fish
)

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$work/root" && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "cmake --install placed other files: $installed"

for entry in "$work"/root/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
done
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id_base.cueprune.metainfo.xml" \
    >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tutf8 -ww -z 2>&1) ||
        fail "groff cannot render $page"
    [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
done

# The installed bash completion, loaded on its own, completes an option and a backup control.
completed=$(bash -c '. "$1"
    COMP_WORDS=(cueprune --back); COMP_CWORD=1; _cueprune; echo "${COMPREPLY[*]}"
    COMP_WORDS=(cueprune --backup = num); COMP_CWORD=3; _cueprune; echo "${COMPREPLY[*]}"' \
    _ "$work/root/usr/share/bash-completion/completions/cueprune")
[ "$completed" = "$(printf '%s\n' '--backup= --backup' numbered)" ] ||
    fail "bash completes: $completed"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for file in "${expected[@]}"; do
    grep -q " \./$file\$" <<<"$contents" || fail "the package lacks $file"
done
[ "$(dpkg-deb -f "$deb" Package)" = cueprune ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6widgets6 libqt6gui6 libqt6svg6 libc6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# lintian as root warns that it should not run as root; its findings are what count here.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$work/lintian.log"; then
    fail "lintian reports errors or warnings"
fi

dpkg-deb -x "$deb" "$work/unpacked"
reported=$("$work/unpacked/usr/bin/cueprune" --version)
[ "$reported" = "cueprune $version" ] || fail "the packaged cueprune says: $reported"

apt-get --simulate install "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot resolve the package's dependencies"; }
