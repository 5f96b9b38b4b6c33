#!/usr/bin/env bash
# Fuzzes one harness for a while: scripts/fuzz.sh NAME SECONDS [libFuzzer options...]
# e.g. scripts/fuzz.sh reply_collector 300, or scripts/fuzz.sh text_frame 0 -runs=10000000
# (0 seconds: no time limit). Starts from the committed seeds (fuzz/corpus/NAME, never written
# to) and a scratch corpus that keeps what earlier runs found ($FUZZ_WORK/NAME, default
# /tmp/thermal-fuzz/NAME); uses fuzz/NAME.dict when there is one. Failing inputs land in the
# scratch directory as crash-*, leak-*, timeout-*: add each to fuzz/corpus/NAME/ as
# regress-<what>.bin once the fault is fixed. Needs the build of `scripts/test.sh --asan`
# (build-asan/, or the directory in BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh NAME SECONDS [libFuzzer options...]" >&2
  exit 2
fi
name=$1
seconds=$2
shift 2
harness=${BUILD_DIR:-$here/build-asan}/bin/fuzz_$name
if [ ! -x "$harness" ]; then
  echo "fuzz.sh: no $harness; build with scripts/test.sh --asan (or THERMAL_FUZZ=ON)" >&2
  exit 2
fi
scratch=${FUZZ_WORK:-/tmp/thermal-fuzz}/$name
mkdir -p "$scratch/corpus"
options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$scratch/"
         -rss_limit_mb=2048)
[ -f "$here/fuzz/$name.dict" ] && options+=(-dict="$here/fuzz/$name.dict")
case $name in
  reply_collector) options+=(-max_len=10000) ;;
  text_stream | frame_pipeline) options+=(-max_len=20000) ;;
  avi_reader | avi_decode) options+=(-max_len=32768) ;;
  remote_payloads) options+=(-max_len=4096) ;;
esac
log=$scratch/last-run.log
set +e
"$harness" "${options[@]}" "$@" "$scratch/corpus" "$here/fuzz/corpus/$name" 2>&1 | tee "$log" |
  grep -E '^(==|SUMMARY|INFO: -max_total_time|.*invariant failed|.*runtime error)'
status=${PIPESTATUS[0]}
set -e
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
last=$(grep -E '^#[0-9]+' "$log" | tail -n1)
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
echo "fuzz_$name: status $status, executions ${execs:-?}, exec/s ${rate:-?}, cov ${cov:-?}, ft ${ft:-?}"
echo "log: $log"
exit "$status"
