#!/usr/bin/env bash
# Real windows through the SDL backend on a virtual X server: the test
# pattern in a normal window and on a full-screen own screen (with scrolls
# presented through the framebuffer's row table), the font viewer, a key
# press travelling from X through the key map to the program, the pattern
# through the fall-back renderer, and the pattern on a 16-bit X server.
# Pixels are read back from screenshots of the root window.
# Usage: platform_xvfb_window.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
set -u
build="$(cd "${1:?build directory}" && pwd)"
for tool in Xvfb xwd convert xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
pattern="$build/kavel-window-pattern"
fontview="$build/kavel-fontview"
for exe in "$pattern" "$fontview"; do
  [ -x "$exe" ] || { echo "missing $exe (build it first)"; exit 1; }
done

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
  # KAVEL_KEEP_SHOTS=DIR keeps the screenshots for a look.
  [ -n "${KAVEL_KEEP_SHOTS:-}" ] && mkdir -p "$KAVEL_KEEP_SHOTS" && cp "$work"/*.png "$KAVEL_KEEP_SHOTS"/ 2>/dev/null
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# An X server of the given depth on a free display number in :97..:120, up
# within 10 s.
start_xvfb() {  # depth
  local n
  for n in $(seq 97 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    timeout 240 Xvfb ":$n" -screen 0 "1024x768x$1" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
  done
  echo "could not start Xvfb on any of :97..:120"
  cat "$work/xvfb.log"
  return 1
}
stop_xvfb() {
  [ -n "$xvfb_pid" ] || return 0
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}
start_xvfb 24 || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts a program in the background and waits (10 s at most) for a line on
# its standard output that says it has drawn.
start_app() {
  local ready="$1"; shift
  "$@" >"$work/app.out" 2>"$work/app.err" &
  app_pid=$!
  for _ in $(seq 100); do
    grep -q "$ready" "$work/app.out" 2>/dev/null && { sleep 0.3; return 0; }
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "program did not report '$ready':"; cat "$work/app.out" "$work/app.err"
  return 1
}

stop_app() {
  [ -n "$app_pid" ] || return 0
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=""
}

shot() { xwd -root -silent | convert xwd:- "$work/$1.png"; }
pixel() { convert "$work/$1.png" -format "%[hex:p{$2,$3}]" info:; }
# Colours are compared exactly, or within $tolerance per component where the
# X server has fewer bits per component than the palette (16-bit depth).
tolerance=0
expect_pixel() {  # shot x y RRGGBB what
  local got
  got="$(pixel "$1" "$2" "$3")"
  if [ "$tolerance" -eq 0 ]; then
    [ "$got" = "$4" ] || fail "$1: $5 at $2,$3 is $got, expected $4"
    return
  fi
  local c a b
  for c in 0 2 4; do
    a=$((16#${got:$c:2})) b=$((16#${4:$c:2}))
    if [ $((a > b ? a - b : b - a)) -gt "$tolerance" ]; then
      fail "$1: $5 at $2,$3 is $got, expected $4 (within $tolerance)"
      return
    fi
  done
}
# Number of pixels of one colour (within $tolerance) inside a rectangle.
count_colour() {  # shot WxH+X+Y RRGGBB
  convert "$work/$1.png" -crop "$2" +repage -format %c histogram:info:- |
    awk -v c="$3" -v tol="$tolerance" '
      function hex(d) { return index("0123456789ABCDEF", toupper(d)) - 1 }
      function comp(h, i) { return 16 * hex(substr(h, i, 1)) + hex(substr(h, i + 1, 1)) }
      function off(a, b) { return a > b ? a - b : b - a }
      { h = $0; sub(/.*#/, "", h); h = substr(h, 1, 6) }
      off(comp(h, 1), comp(c, 1)) <= tol && off(comp(h, 3), comp(c, 3)) <= tol &&
        off(comp(h, 5), comp(c, 5)) <= tol { sub(":", "", $1); n += $1 }
      END { print n + 0 }'
}

palette=(000000 0000AA 00AA00 00AAAA AA0000 AA00AA AA5500 AAAAAA
         555555 5555FF 55FF55 55FFFF FF5555 FF55FF FFFF55 FFFFFF)

# The colour of stripe k of the scrolled bands (palette indices).
stripe_colour() { local p=(9 10 11 12 13 14 2 3 5); echo "${palette[${p[$1]}]}"; }

# The bands below the pattern after their scrolls (see tools/window_pattern.cpp)
# in a window of width w at ox, oy.  A present that read the framebuffer in
# block order instead of through its row table shows the stripes unmoved.
check_scrolls() {
  local s="$1" ox="$2" oy="$3" w="$4" x y k
  band() {  # x y stripe|colour what
    local c="$3"
    [ "${#c}" -eq 1 ] && c="$(stripe_colour "$c")"
    expect_pixel "$s" $((ox + $1)) $((oy + $2)) "$c" "$4"
  }
  # A: whole rows up by two stripes, the rows left behind cleared white.
  for x in 0 300 $((w - 1)); do
    band "$x" 204 2 "rows moved up, stripe 2 now first"
    band "$x" 247 7 "rows moved up, last moved row"
    band "$x" 248 FFFFFF "rows cleared after the move up"
    band "$x" 263 FFFFFF "rows cleared after the move up, band end"
  done
  band 300 264 0 "row under the band moved up"
  # B: whole rows down by two stripes, the two stripes left behind intact.
  for x in 0 300 $((w - 1)); do
    band "$x" 268 0 "rows left behind by the move down, stripe 0"
    band "$x" 279 1 "rows left behind by the move down, stripe 1"
    band "$x" 280 0 "rows moved down, first"
    band "$x" 300 2 "rows moved down, middle"
    band "$x" 327 5 "rows moved down, last"
  done
  # C: the columns 20 .. w-21 moved up, the outer columns stay in place.
  for x in 20 300 $((w - 21)); do
    band "$x" 332 2 "block moved up"
    band "$x" 383 8 "block moved up, last moved row"
    band "$x" 384 AA5500 "block rows cleared after the move"
    band "$x" 399 AA5500 "block rows cleared after the move, last row"
  done
  for x in 0 19 $((w - 20)) $((w - 1)); do
    band "$x" 332 0 "columns beside the moved block"
    band "$x" 383 6 "columns beside the moved block, row 383"
    band "$x" 390 7 "columns beside the cleared block rows"
  done
}

# Band D of a full-screen pattern: a grid of columns 64..w-65 scrolled up by
# a line of 16 rows, through lines of its own, and its new line written.  A
# present that read those columns from the window's lines shows them
# unmoved; one that missed the line's clear shows it striped.
check_grid_band() {
  local s="$1" w="$2" x y k
  grid() { expect_pixel "$s" "$1" "$2" "$(stripe_colour "$3")" "$4"; }
  for x in 64 500 $((w - 65)); do
    for k in 0 5 12 18; do
      grid "$x" $((416 + 16 * k + 8)) $(((k + 1) % 9)) "grid line $k after the scroll"
    done
    expect_pixel "$s" "$x" 719 "$(stripe_colour 1)" "last moved grid line, last row"
  done
  for x in 0 63 $((w - 64)) $((w - 1)); do
    for k in 0 5 12 19; do
      grid "$x" $((416 + 16 * k + 8)) $((k % 9)) "column beside the grid, stripe $k"
    done
  done
  expect_pixel "$s" 70 727 AA0000 "solid glyph on the new grid line"
  expect_pixel "$s" 88 727 0000AA "blank glyph on the new grid line"
  for x in 96 500 $((w - 65)); do
    expect_pixel "$s" "$x" 720 FFFFFF "cleared new grid line"
    expect_pixel "$s" "$x" 735 FFFFFF "cleared new grid line, last row"
  done
}

# Checks the pattern drawn with its top-left corner at ox, oy in a window of
# width w.
check_pattern() {
  local s="$1" ox="$2" oy="$3" w="$4" i
  for i in $(seq 0 15); do
    expect_pixel "$s" $((ox + 40 * i + 20)) $((oy + 30)) "${palette[$i]}" "swatch $i"
  done
  expect_pixel "$s" $((ox + 300)) $((oy + 180)) AAAAAA "grey panel"
  expect_pixel "$s" $((ox + 20)) $((oy + 100)) AA0000 "checker square 0,0"
  expect_pixel "$s" $((ox + 28)) $((oy + 100)) 0000AA "checker square 1,0"
  expect_pixel "$s" $((ox + 28)) $((oy + 108)) AA0000 "checker square 1,1"
  expect_pixel "$s" $((ox + 116)) $((oy + 100)) AA0000 "copied checker 0,0"
  expect_pixel "$s" $((ox + 124)) $((oy + 100)) 0000AA "copied checker 1,0"
  # The copy shifted right over itself: a front-to-back copy would smear red.
  expect_pixel "$s" $((ox + 220)) $((oy + 100)) 0000AA "overlapping copy, square 1"
  expect_pixel "$s" $((ox + 228)) $((oy + 100)) AA0000 "overlapping copy, square 2"
  expect_pixel "$s" $((ox + 210)) $((oy + 100)) AA0000 "overlapping copy, left strip"
  expect_pixel "$s" $((ox + 341)) $((oy + 170)) FFFFFF "glyph left bar"
  expect_pixel "$s" $((ox + 355)) $((oy + 170)) 000000 "glyph gap"
  expect_pixel "$s" $((ox + 370)) $((oy + 170)) FFFFFF "glyph right bar"
  local yellow blue
  yellow=$(count_colour "$s" "70x30+$((ox + 338))+$((oy + 95))" FFFF55)
  blue=$(count_colour "$s" "70x30+$((ox + 338))+$((oy + 95))" 0000AA)
  [ "$yellow" -gt 100 ] || fail "$s: text has $yellow yellow pixels"
  [ "$blue" -gt 500 ] || fail "$s: text box has $blue blue pixels"
  check_scrolls "$s" "$ox" "$oy" "$w"
}

# 0. Without any display the desktop screen is missing and nothing opens
# (SDL's invisible fall-back drivers do not count as a display).
no_display_out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 "$pattern" 1 2>&1)"
no_display_rc=$?
if [ "$no_display_rc" -ne 1 ] || ! grep -q "no display" <<<"$no_display_out"; then
  fail "without a display: exit $no_display_rc, output: $no_display_out"
fi

# 1. A window on the desktop at 40,30.
if start_app "pattern ready" "$pattern" 20; then
  shot window
  check_pattern window 40 30 640
  expect_pixel window 20 20 000000 "desktop outside the window"
  # 2. A key typed on the X keyboard ends the program.
  xdotool mousemove 200 200 key --delay 50 k
  for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "the program did not see the key press"
  fi
  stop_app
else
  fail "window pattern did not start"
  stop_app
fi

# 3. The own screen: a borderless full-screen window at 0,0 with the palette
# in its colour registers.
if start_app "pattern ready" "$pattern" --fullscreen 20; then
  shot fullscreen
  check_pattern fullscreen 0 0 1024
  check_grid_band fullscreen 1024
  expect_pixel fullscreen 1000 750 000000 "own screen background"
  stop_app
else
  fail "full-screen pattern did not start"
  stop_app
fi

# 4. The fall-back present through an SDL renderer, used where the video
# driver has no window surface, forced here on X11.
if start_app "pattern ready" env KAVEL_PRESENT=renderer "$pattern" 20; then
  shot renderer
  check_pattern renderer 40 30 640
  stop_app
else
  fail "window pattern through the renderer did not start"
  stop_app
fi

# 5. The font viewer draws a solid test font and lists a malformed file.
mkdir -p "$work/Fonts"
head -c 2048 /dev/zero | tr '\0' '\377' >"$work/Fonts/solid.f8"
head -c 100 /dev/zero >"$work/Fonts/short.f16"
if start_app "font file" "$fontview" "$work/Fonts" --seconds 20; then
  shot fontview
  white=$(count_colour fontview 1024x768+0+0 FFFFFF)
  # 256 glyphs of 8 x 8 pixels at scale 2 are 65536 white pixels, plus labels.
  [ "$white" -ge 65536 ] || fail "font viewer shows $white white pixels"
  grep -q "2 font file" "$work/app.out" || fail "font viewer: $(cat "$work/app.out")"
  stop_app
else
  fail "font viewer did not start"
  stop_app
fi

# 6. A 16-bit X server: the window surface is RGB565, filled through the
# colour-map conversion for formats other than XRGB8888.  Five or six bits
# per component round the palette by up to 8 levels (as xwd reads them back).
stop_xvfb
if start_xvfb 16; then
  tolerance=12
  if start_app "pattern ready" "$pattern" 20; then
    shot depth16
    check_pattern depth16 40 30 640
    stop_app
  else
    fail "window pattern at depth 16 did not start"
    stop_app
  fi
  if start_app "pattern ready" "$pattern" --fullscreen 20; then
    shot depth16-fullscreen
    check_pattern depth16-fullscreen 0 0 1024
    check_grid_band depth16-fullscreen 1024
    stop_app
  else
    fail "full-screen pattern at depth 16 did not start"
    stop_app
  fi
  tolerance=0
else
  fail "no 16-bit X server"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed (KAVEL_KEEP_SHOTS=DIR keeps the screenshots)"
  exit 1
fi
echo "real windows: all checks passed"
