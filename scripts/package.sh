#!/usr/bin/env bash
# Builds the Debian package of the viewer, the tool and the video player into build/ (or the
# directory in BUILD_DIR) and checks it (scripts/check-package.sh: lintian, the desktop entries,
# the AppStream metadata, the programs run from the extracted package). A build directory
# configured here for the first time is a release build without tests or benchmarks; an existing
# one is packaged as it was configured.
# Usage: scripts/package.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/install-deps.sh" --package
BUILD_DIR=$build "$here/scripts/build.sh" --viewer -DCMAKE_BUILD_TYPE=Release
"$here/scripts/check-package.sh" "$build"
