#!/usr/bin/env bash
# Builds the .deb in Release, installs it with apt-get as a packager's user
# would, and as an unprivileged user runs `kestrane-cli plan` and the
# options dialog's save and read-back (offscreen): the installed program
# folder is not writable for that user, so the settings go to
# ~/.config/kestrane/config.ini. The dialog is driven by the build's
# kestrane-showcase (not in the package), which builds the windows as the
# program in the installed folder does. Removes the package again at the
# end. Run as root (apt-get); CI calls it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_WERROR=ON \
  -DKESTRANE_TESTS=OFF -DKESTRANE_BENCH=OFF >/dev/null
cmake --build "$dir" -j2
rm -f "$dir"/kestrane_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/kestrane_*.deb)
echo "Built $deb"
dpkg-deb -f "$deb" Depends

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
home=$(mktemp -d)
cleanup() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kestrane \
    >/dev/null 2>&1 || true
  $SUDO rm -rf "$home"
}
trap cleanup EXIT
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" \
  >/dev/null

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
user=nobody
$SUDO chown "$user" "$home"
as_user() {
  $SUDO runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin \
    QT_QPA_PLATFORM=offscreen "$@"
}

for prog in kestrane kestrane-cli; do
  command -v "$prog" >/dev/null || fail "$prog is not on the PATH"
done
if command -v kestrane-showcase >/dev/null ||
  [ -e /usr/lib/kestrane/kestrane-showcase ]; then
  fail "the build's showcase program was installed"
fi
[ -f /usr/share/applications/kestrane.desktop ] || fail "no desktop entry"
[ -f /usr/share/icons/hicolor/scalable/apps/kestrane.svg ] || fail "no icon"
[ -f /usr/share/man/man1/kestrane-cli.1 ] || fail "no manual page"
[ -f /usr/lib/kestrane/blankimg/blank180.jpg ] || fail "no blank image"
[ -f /usr/lib/kestrane/help/help.html ] || fail "no user manual"
[ -d /usr/lib/kestrane/ini ] || fail "no ini folder"

version=$(as_user kestrane-cli --version)
echo "$version"
as_user kestrane --version || fail "kestrane --version as $user"
as_user kestrane-cli plan --path "$home/tiles" --task t --left -122.34 \
  --right -122.33 --top 47.61 --bottom 47.60 --zoom 16 ||
  fail "kestrane-cli plan as $user"
[ -f "$home/tiles/t.ktsk" ] || fail "plan wrote no project file"

# The showcase program is copied where the user can run it; the settings
# file its dialog uses is the one of the installed program folder.
$SUDO install -m 755 "$dir/bin/kestrane-showcase" "$home/kestrane-showcase"
as_user "$home/kestrane-showcase" --program-folder /usr/lib/kestrane \
  --options-round-trip "$home/maps" ||
  fail "the options round trip as $user"
[ -f "$home/.config/kestrane/config.ini" ] ||
  fail "no settings file in ~/.config/kestrane"
grep -q "DefaultPath=$home/maps" "$home/.config/kestrane/config.ini" ||
  fail "the settings file lacks the saved default path"
[ ! -e /usr/lib/kestrane/ini/config.ini ] ||
  fail "a settings file appeared in the program folder"
# The CLI reads the same file: the saved folder is plan's default path.
as_user kestrane-cli plan --task u --left -122.34 --right -122.33 \
  --top 47.61 --bottom 47.60 --zoom 14 >/dev/null ||
  fail "plan into the default path"
[ -f "$home/maps/u.ktsk" ] || fail "plan ignored the saved default path"
echo "package-test: ok"
