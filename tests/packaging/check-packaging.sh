#!/usr/bin/env bash
# Installs each component of the project into a temporary DESTDIR and checks what lands there,
# validates the desktop entries, the metainfo, the man pages and the bash completion, then
# builds the two Debian packages, checks their contents, fields and lintian's verdict, unpacks
# the command's into a temporary folder, runs cueprune from there, and asks apt whether it
# could install each. Nothing is installed on this machine.
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

# What each component installs, and so what each package holds: the command alone, and the
# windows.
# shellcheck disable=SC2034 # both lists are read through a nameref below
command_files=(
    usr/bin/cueprune
    usr/share/man/man1/cueprune.1.gz
    usr/share/doc/cueprune/changelog.gz
    usr/share/doc/cueprune/copyright
    usr/share/bash-completion/completions/cueprune
    usr/share/zsh/vendor-completions/_cueprune
    usr/share/fish/vendor_completions.d/cueprune.fish
)
# shellcheck disable=SC2034
windows_files=(
    usr/bin/cuefolder
    usr/bin/cuefile
    "usr/share/applications/$id_base.cuefolder.desktop"
    "usr/share/applications/$id_base.cuefile.desktop"
    "usr/share/icons/hicolor/scalable/apps/$id_base.cueprune.svg"
    "usr/share/metainfo/$id_base.cueprune.metainfo.xml"
    usr/share/man/man1/cuefolder.1.gz
    usr/share/man/man1/cuefile.1.gz
    usr/share/doc/cueprune-gui/changelog.gz
    usr/share/doc/cueprune-gui/copyright
)

for component in command windows; do
    DESTDIR="$work/$component" cmake --install "$build" --prefix /usr --component "$component" \
        >/dev/null
    installed=$(cd "$work/$component" && find . -type f | sed 's|^\./||' | sort)
    declare -n files="${component}_files"
    [ "$installed" = "$(printf '%s\n' "${files[@]}" | sort)" ] ||
        fail "cmake --install of $component placed other files: $installed"
done

for entry in "$work"/windows/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
done
appstreamcli validate --no-net "$work/windows/usr/share/metainfo/$id_base.cueprune.metainfo.xml" \
    >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
for page in "$work"/*/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tutf8 -ww -z 2>&1) ||
        fail "groff cannot render $page"
    [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
done

# The installed bash completion, loaded on its own, completes an option and a backup control.
completed=$(bash -c '. "$1"
    COMP_WORDS=(cueprune --back); COMP_CWORD=1; _cueprune; echo "${COMPREPLY[*]}"
    COMP_WORDS=(cueprune --backup = num); COMP_CWORD=3; _cueprune; echo "${COMPREPLY[*]}"' \
    _ "$work/command/usr/share/bash-completion/completions/cueprune")
[ "$completed" = "$(printf '%s\n' '--backup= --backup' numbered)" ] ||
    fail "bash completes: $completed"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
command_deb="$work/package/cueprune_${version}_$(dpkg --print-architecture).deb"
windows_deb="$work/package/cueprune-gui_${version}_$(dpkg --print-architecture).deb"
for component in command windows; do
    deb_variable="${component}_deb"
    deb=${!deb_variable}
    [ -f "$deb" ] || fail "cpack made no $deb: $(ls "$work/package")"
    declare -n files="${component}_files"
    packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
    [ "$packaged" = "$(printf '%s\n' "${files[@]}" | sort)" ] ||
        fail "$deb holds other files: $packaged"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version of $deb"
done

# The command's package needs Qt Core and nothing graphical, by its fields and by its program.
depends=$(dpkg-deb -f "$command_deb" Depends)
for library in libqt6core6 libc6; do
    grep -q "$library" <<<"$depends" || fail "cueprune's Depends lacks $library: $depends"
done
if grep -Eq 'libqt6(gui|widgets|svg)' <<<"$depends"; then
    fail "cueprune depends on a graphical library: $depends"
fi
[ -z "$(dpkg-deb -f "$command_deb" Recommends Suggests)" ] || fail "cueprune pulls in more"
depends=$(dpkg-deb -f "$windows_deb" Depends)
for library in libqt6core6 libqt6widgets6 libqt6gui6 libqt6svg6 libc6; do
    grep -q "$library" <<<"$depends" || fail "cueprune-gui's Depends lacks $library: $depends"
done
grep -qx 'cueprune' <<<"$(dpkg-deb -f "$windows_deb" Suggests)" ||
    fail "cueprune-gui does not suggest cueprune"
if grep -qw 'cueprune' <<<"$depends"; then
    fail "cueprune-gui needs cueprune: $depends"
fi

# lintian as root warns that it should not run as root; its findings are what count here.
lintian --tag-display-limit 0 "$command_deb" "$windows_deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$work/lintian.log"; then
    fail "lintian reports errors or warnings"
fi

dpkg-deb -x "$command_deb" "$work/unpacked"
reported=$("$work/unpacked/usr/bin/cueprune" --version)
[ "$reported" = "cueprune $version" ] || fail "the packaged cueprune says: $reported"
if ldd "$work/unpacked/usr/bin/cueprune" | grep -E 'libQt6(Gui|Widgets|Svg)'; then
    fail "the packaged cueprune loads a graphical library"
fi

apt-get --simulate install "$command_deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot resolve cueprune's dependencies"; }
apt-get --simulate install "$windows_deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot resolve cueprune-gui's dependencies"; }
