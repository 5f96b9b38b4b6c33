#!/usr/bin/env bash
# Installs on Debian 12 what building and running the viewer, the video player and the tool need.
# With --package, also what making and checking the Debian package needs (scripts/package.sh).
# With --test, also what the tests (the package's among them), the sanitizer and fuzz builds, the
# benchmarks and the helper scripts need (scripts/test.sh asks for that). Idempotent: packages
# already present are left alone, and apt is only asked when something is missing.
# Usage: scripts/install-deps.sh [--test|--package]
set -euo pipefail

# The fonts belong to running: the dialogs are laid out from Liberation Sans's metrics, and the
# About box and the system menu have Chinese text.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libudev-dev libxvidcore-dev libpng-dev libtiff-dev libmosquitto-dev
  fonts-liberation2 fonts-noto-cjk
)
test_packages=(
  git clang-format clang-format-15 ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xclip xdotool imagemagick bc time ffmpeg python3
  python3-numpy python3-tifffile
  libreoffice-calc-nogui
  mosquitto mosquitto-clients
)

# The manual pages are made from the programs' --help with help2man; bash-completion's functions
# let the package's check try the tool's completion, and systemd's analyzer rates the service.
package_packages=(
  help2man dpkg-dev lintian desktop-file-utils appstream bash-completion systemd
)

packages=("${run_packages[@]}")
case "${1:-}" in
  '') ;;
  --package) packages+=("${package_packages[@]}") ;;
  --test) packages+=("${test_packages[@]}" "${package_packages[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [--test|--package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
