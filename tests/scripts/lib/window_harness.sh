# Shared harness of the end-to-end window tests: sourced, not run.
#
#   window_harness_init TOOL...   skips (exit 77) unless the tools exist,
#                                 makes $work, installs the cleanup trap
#   window_harness_start_xvfb [WxH]  starts Xvfb (1920x1080 by default), exports DISPLAY
#   harness_find_window [SETTLE]  waits for a Kavel window and focuses it; sets $win
#   harness_start_kavel ARGS...   starts $KAVEL (stdout/stderr in $work/kavel.out/.err),
#                                 waits for its window; sets $kavel_pid, $win
#   harness_wait_kavel SECS       waits for kavel to end; sets $status (124: it did not)
#   expect DESCRIPTION CMD...     runs CMD, prints ok/FAIL, sets fail=1 on failure
#   window_harness_wait_port      waits for the test BBS started with its output
#                                 in $work/bbs.out to print its port; sets $port
#   stop_bbs                      stops the test BBS started as $bbs_pid
#
# Every process a test starts is stopped by its pid at exit: the test sets
# kavel_pid, bbs_pid as it starts them.  KAVEL_E2E_KEEP=DIR keeps the
# screenshots for a look.

window_harness_init() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
  done
  work=$(mktemp -d)
  # Kavel keeps its files in the home directory (~/.config/kavel, the
  # download directory): every test gets an empty one of its own.
  export HOME="$work/home"
  unset XDG_CONFIG_HOME
  mkdir -p "$HOME"
  # A call from the menu plays the dial sound wherever an audio device
  # opens: these tests connect at once unless one asks for sound itself.
  export SDL_AUDIODRIVER=none
  xvfb_pid= bbs_pid= kavel_pid=
  fail=0
  trap window_harness_cleanup EXIT
}

window_harness_cleanup() {
  local p
  for p in $kavel_pid $bbs_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work"/*.png "$KAVEL_E2E_KEEP"/ 2>/dev/null
  [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work"/*.log "$KAVEL_E2E_KEEP"/ 2>/dev/null
  rm -rf "$work"
}

window_harness_start_xvfb() {
  # -noreset: atoms the clients interned (such as _NET_WORKAREA) outlive them.
  Xvfb -displayfd 3 -screen 0 "${1:-1920x1080}x24" -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  local _
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "SKIP: Xvfb did not start"; exit 77; }
  export DISPLAY=":$(cat "$work/display")"
}

expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

window_harness_wait_port() {
  port=
  local _
  for _ in $(seq 50); do
    port=$(awk '/^PORT/{print $2}' "$work/bbs.out" 2>/dev/null)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  return 1
}

stop_bbs() { [ -n "$bbs_pid" ] && { kill "$bbs_pid" 2>/dev/null; wait "$bbs_pid" 2>/dev/null; }; bbs_pid=; }

# Waits up to 10 s for a Kavel window, focuses it and lets it settle for
# SETTLE seconds; sets $win.  1 when no window came.
harness_find_window() {
  win=
  local _
  for _ in $(seq 100); do
    win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || return 1
  xdotool windowfocus --sync "$win" 2>/dev/null
  sleep "${1:-0.5}"
}

harness_start_kavel() {
  (cd "$(dirname "$KAVEL")" && exec timeout 60 "$KAVEL" "$@") >"$work/kavel.out" 2>"$work/kavel.err" &
  kavel_pid=$!
  harness_find_window 0.5
}

harness_wait_kavel() {
  status=124
  local _
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$kavel_pid" 2>/dev/null; then
      wait "$kavel_pid"; status=$?; kavel_pid=; return
    fi
    sleep 0.1
  done
}
