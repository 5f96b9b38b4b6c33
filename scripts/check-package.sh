#!/usr/bin/env bash
# Makes the Debian package from an already configured build directory with CPack (which builds
# what is missing first) and checks it as a user's system would see it: lintian finds no error,
# the desktop entries and the AppStream metadata validate, the udev rule is only an example, the
# service's sandbox rates at most 2.5 in systemd's analysis, and the tool, the video player and the
# viewer (offscreen) run from the package's files extracted into a temporary root. The package
# stays in the build directory. Run by ctest (debian_package) and by scripts/package.sh.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: scripts/check-package.sh BUILD_DIR}" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/thermal-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

rm -f "$build"/thermal-viewer_*.deb
(cd "$build" && cpack -G DEB >"$root/cpack.log" 2>&1) || { cat "$root/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/thermal-viewer_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no thermal-viewer_*.deb in $build"
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends

# Errors fail; warnings and the rest are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors on $deb"

dpkg-deb -x "$deb" "$root/fs"
usr=$root/fs/usr
for f in bin/thermal bin/thermal-viewer bin/VELKAviPlayer \
    share/man/man1/thermal.1.gz share/man/man1/thermal-viewer.1.gz \
    share/man/man1/VELKAviPlayer.1.gz share/bash-completion/completions/thermal \
    share/icons/hicolor/128x128/apps/thermal-viewer.png share/doc/thermal-viewer/copyright \
    share/doc/thermal-viewer/examples/60-thermal-module.rules \
    share/doc/thermal-viewer/examples/thermal-publish@.service; do
  [ -f "$usr/$f" ] || fail "the package has no /usr/$f"
done
# The udev rule is an example to narrow to one adapter: an active rule would give the module's
# link to any adapter with the same USB IDs.
active_rules=$(find "$root/fs" -path '*/udev/rules.d/*' -type f)
[ -z "$active_rules" ] || fail "the package installs active udev rules: $active_rules"
grep -q 'ATTRS{serial}=="CHANGE-ME"' "$usr/share/doc/thermal-viewer/examples/60-thermal-module.rules" ||
  fail "the example udev rule does not ask for the adapter's serial number"
# The service's sandbox, as systemd rates an instance of it (the threshold is ten times the
# exposure level it prints: 25 is 2.5).
cp "$usr/share/doc/thermal-viewer/examples/thermal-publish@.service" \
  "$root/thermal-publish@ttyUSB0.service"
systemd-analyze security --offline=true --threshold=25 --no-pager \
  "$root/thermal-publish@ttyUSB0.service" >"$root/security.log" 2>&1 ||
  { cat "$root/security.log" >&2; fail "the service's exposure is above 2.5"; }
grep 'Overall exposure level' "$root/security.log"
desktop-file-validate "$usr"/share/applications/*.desktop
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml

# The programs from the extracted root, with a home of their own.
export HOME=$root/home XDG_CONFIG_HOME=$root/home/.config
mkdir -p "$HOME"
"$usr/bin/thermal" --version | grep -qx "thermal [0-9.]*" || fail "thermal --version"
"$usr/bin/thermal" sim --help | grep -q "^Usage: thermal sim" || fail "thermal sim --help"
"$usr/bin/VELKAviPlayer" --version | grep -qx "VELKAviPlayer [0-9.]*" || fail "VELKAviPlayer --version"
# Two raw frames (992 big-endian values each, 3000 = 0x0BB8 counts) to one CSV: a '#' line and
# 31 rows of 32 values per frame.
for _ in $(seq 1984); do printf '\x0b\xb8'; done >"$root/two.bin"
"$usr/bin/thermal" convert "$root/two.bin" "$root/two.csv" || fail "thermal convert"
[ "$(grep -c '^#' "$root/two.csv")" = 2 ] && [ "$(grep -c '^3000\(,3000\)\{31\}$' "$root/two.csv")" = 62 ] ||
  fail "thermal convert wrote an unexpected $root/two.csv"
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' timeout 60 \
  "$usr/bin/thermal-viewer" --startup-report >"$root/viewer.log" 2>&1 ||
  { cat "$root/viewer.log" >&2; fail "thermal-viewer --startup-report"; }

# The completion knows the commands and the options of each.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  completions=$(cd "$root" && bash -c '. /usr/share/bash-completion/bash_completion
    . "$1"; PATH=$2:$PATH
    complete_line() {
      COMP_LINE=$1 COMP_POINT=${#1}; read -ra COMP_WORDS <<<"$1"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _thermal; echo "${COMPREPLY[*]}"
    }
    complete_line "thermal co"; complete_line "thermal convert two.bin two.csv --un"
    complete_line "thermal convert tw"; complete_line "thermal convert two.bin --mirror b"' _ \
    "$usr/share/bash-completion/completions/thermal" "$usr/bin")
  [ "$completions" = $'convert\n--unit\ntwo.bin\nboth' ] ||
    fail "bash completion gave '$completions'"
fi
echo "check-package: $deb is good"
