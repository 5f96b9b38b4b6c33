#!/usr/bin/env bash
# Builds the viewer and starts it. Extra arguments go to thermal-viewer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh"
exec "$here/build/bin/thermal-viewer" "$@"
