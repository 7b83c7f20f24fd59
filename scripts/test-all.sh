#!/usr/bin/env bash
# The tests make runs.
#
#   test-all.sh all    the release build's unit and script tests, the unit
#                      tests under AddressSanitizer and UndefinedBehavior-
#                      Sanitizer, and every fuzz target for a short while
#   test-all.sh asan   the sanitizer pass alone
#   test-all.sh fuzz   the fuzz targets alone
#
# Two builds, not three: one clang build with the sanitizers and the fuzzer's
# coverage instrumentation ("the check build") serves both the sanitizer pass
# and the fuzz targets.  And the two passes overlap: the release tests spend
# most of their time waiting on windows, peers and time-outs, so the check
# build and its tests run beside them at the lowest CPU priority, taking the
# cores the release tests leave idle.
#
# BUILD, CHECK_BUILD, JOBS, TEST_JOBS and FUZZ_SECONDS as in the Makefile.
set -uo pipefail
cd "$(dirname "$0")/.."
mode=${1:-all}
build=${BUILD:-build}
check=${CHECK_BUILD:-build-check}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# Release tests at a time: most of them sleep on a window or a peer, so more
# than one per core keeps the cores busy.
test_jobs=${TEST_JOBS:-$((jobs * 2))}
dev_flags=(-G Ninja -DKAVEL_WERROR=ON)
# ASan's advice: -O1 keeps the checks and runs the damaged-line campaigns
# several times faster than -O0; line tables are enough for its reports.
check_opt="-O1 -gline-tables-only"
start=$(date +%s)
elapsed() { echo "$(( $(date +%s) - start )) s"; }

check_build() {
  CC=clang CXX=clang++ cmake -S . -B "$check" "${dev_flags[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DKAVEL_SANITIZE=ON -DKAVEL_FUZZ=ON "-DCMAKE_C_FLAGS_DEBUG=$check_opt" \
    "-DCMAKE_CXX_FLAGS_DEBUG=$check_opt" >/dev/null || return 1
  cmake --build "$check" -j "$jobs" --target unit_tests fuzz_all || return 1
  echo "== check build done after $(elapsed)"
}
# The script tests (real windows, real peers) and the unit tests that talk to
# lrzsz (they wait on its time-outs, and the code they drive is the one the
# in-process pair tests drive here) run once, in the release build.
# The few unit tests that take a minute under the sanitizers (the damaged-line
# campaigns, the drawing comparisons) start first, so that they overlap the
# many short ones instead of running alone at the end.  ctest orders by the
# costs of earlier runs; a fresh build has none, so it gets these.
seed_check_costs() {
  local costs="$check/Testing/Temporary/CTestCostData.txt"
  [ -s "$costs" ] && return 0
  mkdir -p "$(dirname "$costs")"
  printf '%s 1 %s\n' \
    ZmodemLoop.HeavyDamageNeverClaimsSuccessWrongly 70 \
    ZmodemLoop.DamagedLineRecovers 50 \
    Scrolls.TextAtScale2SharingRowsKeepsEveryDrawingExact 40 \
    TerminalWindow.IncrementalDrawingEqualsFullRedraw 35 \
    XmodemPair.SeededFaultInjectionRuns 20 >"$costs"
  echo --- >>"$costs"
}
check_asan() {
  seed_check_costs
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$check" -j "$jobs" --output-on-failure -LE script \
      -E '^(XmodemLrzsz|ZmodemPeer)\.' || return 1
  echo "== sanitizer tests done after $(elapsed)"
}
check_fuzz() {
  JOBS=$jobs FUZZ_SECONDS=${FUZZ_SECONDS:-6} bash scripts/fuzz-all.sh "$check" || return 1
  echo "== fuzz targets done after $(elapsed)"
}

case "$mode" in
  asan) check_build && check_asan; exit ;;
  fuzz) check_build && check_fuzz; exit ;;
  all) ;;
  *) echo "usage: test-all.sh [all|asan|fuzz]" >&2; exit 2 ;;
esac

cmake -S . -B "$build" "${dev_flags[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j "$jobs" || exit 1
echo "== release build done after $(elapsed)"

mkdir -p "$check"
( renice -n 19 -p "$BASHPID" >/dev/null; check_build && check_asan && check_fuzz ) \
  >"$check/check-pass.log" 2>&1 &
check_pid=$!

ctest --test-dir "$build" -j "$test_jobs" --output-on-failure
release_rc=$?
echo "== release tests: status $release_rc after $(elapsed)"

wait "$check_pid"
check_rc=$?
# A passing check pass needs no more than its summary lines.
if [ "$check_rc" -eq 0 ]; then
  grep -E '^(== |[0-9]+% tests passed|fuzz targets:)' "$check/check-pass.log"
else
  cat "$check/check-pass.log"
fi
echo "== sanitizer and fuzz pass: status $check_rc after $(elapsed)"
[ "$release_rc" -eq 0 ] && [ "$check_rc" -eq 0 ]
