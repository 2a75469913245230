#!/usr/bin/env bash
# Checks what VornTerm installs, with the desktop's and Debian's own tools:
# installs the build into a temporary DESTDIR (prefix /usr), validates the
# desktop entry, the AppStream metadata and the manual pages, tries the
# desktop launcher, builds the Debian package and lists it, and checks that
# a message box at start-up reaches assistive technology.
#   scripts/check-install.sh [BUILD_DIR]      (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath "${1:-$root/build}")"
id=example.vorn.VornTerm
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

files=(usr/bin/vornterm usr/bin/vornterm-cfg usr/bin/vornterm-log usr/libexec/vornterm/vornterm-desktop
       usr/share/vornterm/VornLicense.txt "usr/share/applications/$id.desktop"
       "usr/share/metainfo/$id.metainfo.xml" usr/share/man/man1/vornterm.1
       usr/share/man/man1/vornterm-cfg.1 usr/share/man/man1/vornterm-log.1
       usr/share/man/man5/vornterm-index.5 "usr/share/icons/hicolor/scalable/apps/$id.svg")
sizes=(16 22 24 32 48 64 128 256)
for s in "${sizes[@]}"; do files+=("usr/share/icons/hicolor/${s}x${s}/apps/$id.png"); done

echo "== install into a temporary folder"
DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
for f in "${files[@]}"; do [[ -f $stage/root/$f ]] || fail "not installed: /$f"; done
for s in "${sizes[@]}"; do
  file -b "$stage/root/usr/share/icons/hicolor/${s}x${s}/apps/$id.png" |
    grep -q "^PNG image data, $s x $s," || fail "icon ${s}x${s} is not a $s x $s PNG"
done

echo "== desktop entry"
desktop="$stage/root/usr/share/applications/$id.desktop"
out="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"
grep -qx 'Exec=/usr/libexec/vornterm/vornterm-desktop' "$desktop" ||
  fail "the desktop entry does not start the installed launcher: $(grep ^Exec= "$desktop")"
# The launcher, with the program replaced by printing the folder it runs in.
home="$stage/home"
mkdir "$home"
sed 's|^exec .*|pwd|' "$stage/root/usr/libexec/vornterm/vornterm-desktop" >"$stage/launch"
dir="$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin /bin/sh "$stage/launch")"
[[ $dir == "$home/Documents/VornTerm" && -d $dir ]] ||
  fail "the launcher ran in '$dir', not in a new $home/Documents/VornTerm"

echo "== AppStream metadata"
appstreamcli validate --no-net "$stage/root/usr/share/metainfo/$id.metainfo.xml"

echo "== manual pages"
for page in man1/vornterm.1 man1/vornterm-cfg.1 man1/vornterm-log.1 man5/vornterm-index.5; do
  err="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -l "$stage/root/usr/share/man/$page" 2>&1 >/dev/null)"
  [[ -z $err ]] || fail "man $page: $err"
done

echo "== Debian package"
(cd "$build" && cpack -G DEB -B "$stage/pkg" >/dev/null 2>"$stage/cpack.log") ||
  fail "cpack: $(cat "$stage/cpack.log")"
deb="$(echo "$stage"/pkg/vornterm_*.deb)"
[[ -f $deb ]] || fail "cpack made no vornterm_*.deb"
listing="$(dpkg-deb -c "$deb" | awk '{print $6}')"
# Debian's way: manual pages compressed, the licence as the copyright file.
pkgfiles=("${files[@]/%.1/.1.gz}")
pkgfiles=("${pkgfiles[@]/%.5/.5.gz}" usr/share/doc/vornterm/copyright)
for f in "${pkgfiles[@]}"; do grep -qx "./$f" <<<"$listing" || fail "not in the package: /$f"; done
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/applications/$id.desktop" |
  grep -qx 'Exec=/usr/libexec/vornterm/vornterm-desktop' || fail "the packaged desktop entry's Exec"
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
dpkg-deb -f "$deb" Maintainer | grep -q 'Vorn Instruments' || fail "no maintainer"
echo "$(basename "$deb"): $(wc -l <<<"$listing") entries; Depends: $depends"

echo "== start-up message box and assistive technology"
"$root/tests/a11y/check-startup-box.sh" "$build/vornterm"
