#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS each, JOBS at a
# time; a target that finds a crash fails the run and shows its log.
set -euo pipefail
dir=${1:?usage: fuzz-all.sh CHECK_BUILD_DIR}
seconds=${FUZZ_SECONDS:-6}
jobs=${JOBS:-2}

one() {
  local f=$1 seconds=$2
  if "$f" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=0 >/dev/null 2>"$f.log"; then
    echo "fuzzed $(basename "$f") for ${seconds}s: clean"
  else
    echo "FAIL: $(basename "$f") (log $f.log):"
    tail -40 "$f.log"
    return 1
  fi
}
export -f one

targets=()
for f in "$dir"/fuzz_*; do
  [ -x "$f" ] && [ -f "$f" ] && targets+=("$f")
done
[ "${#targets[@]}" -gt 0 ] || { echo "no fuzz targets in $dir"; exit 1; }
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'one "$@"' _ {} "$seconds"
echo "fuzz targets: all ${#targets[@]} clean"
