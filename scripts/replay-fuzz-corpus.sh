#!/usr/bin/env bash
# Runs a fuzz harness once over every input of its corpus directory, without fuzzing: the test
# that keeps each seed and each input that once failed passing. Fails when any input fails.
# Usage: scripts/replay-fuzz-corpus.sh HARNESS CORPUS_DIR
set -euo pipefail
harness=$1
dir=$2
mapfile -t inputs < <(find "$dir" -maxdepth 1 -type f | sort)
if [ ${#inputs[@]} -eq 0 ]; then
  echo "replay-fuzz-corpus: no inputs in $dir" >&2
  exit 1
fi
# Inputs given as files are run once each; -rss_limit_mb keeps a runaway allocation a failure.
"$harness" -rss_limit_mb=2048 "${inputs[@]}"
