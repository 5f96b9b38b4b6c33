#!/usr/bin/env bash
# Builds the viewer (installing only what building and running it need) and starts it. Extra
# arguments go to thermal-viewer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh" --viewer
exec "$here/build/bin/thermal-viewer" "$@"
