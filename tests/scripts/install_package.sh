#!/usr/bin/env bash
# Kavel as an installed program.  cmake --install into a DESTDIR puts the
# programs, the Fonts drawer, the desktop entry, the icon, the metadata and
# the manual pages in place; the installed kavel, started from another
# directory with a fresh HOME, finds its fonts and opens the menu under Xvfb
# (an entry added with Alt+A is saved in ~/.config/kavel, made private), and
# offers the console dialogue without a display the same way; -h names that
# phonebook.  The desktop entry, the metadata and the manual pages
# pass their validators, and the pages name every option the programs
# accept.  The .deb CPack makes has its dependencies, passes lintian without
# errors, and, unpacked with dpkg -x, runs with the build and source trees
# hidden.  Nothing is installed on the machine: all of it lives in $work.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
SRC=$(cd "${2:?source dir}" && pwd)
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool desktop-file-validate appstreamcli man groff lintian cpack dpkg-deb file
[ -x "$BUILD/kavel" ] || { echo "FAIL: kavel not built"; exit 1; }

# Where Kavel keeps the phonebook of a run: the configuration directory of
# its HOME (XDG_CONFIG_HOME is unset for every run), never the directory it
# was started from.
book_of() { echo "$2/.config/kavel/kavel.phonebook"; }  # run directory, HOME
unset XDG_CONFIG_HOME

# --- cmake --install into a DESTDIR ---------------------------------------------
root="$work/root"
DESTDIR="$root" cmake --install "$BUILD" --prefix /usr >"$work/install.log" 2>&1
expect "cmake --install into a DESTDIR" [ $? -eq 0 ]
for f in bin/kavel bin/kavel-transfer share/kavel/Fonts/cp437.f16 share/kavel/Fonts/Topaz+1200/14 \
  share/icons/hicolor/scalable/apps/kavel.svg share/man/man1/kavel.1.gz \
  share/man/man1/kavel-transfer.1.gz share/doc/kavel/copyright share/doc/kavel/changelog.gz; do
  expect "installed: $f" [ -f "$root/usr/$f" ]
done
desktop=$(ls "$root"/usr/share/applications/*.desktop 2>/dev/null)
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null)
expect "one desktop entry and its metadata, by the same name" \
  [ -n "$desktop" -a "$(basename "$desktop" .desktop)" = "$(basename "$metainfo" .metainfo.xml)" ]
for s in 16 22 24 32 48 64 128 256; do
  expect "the ${s}x${s} icon is that size" \
    bash -c "file '$root/usr/share/icons/hicolor/${s}x${s}/apps/kavel.png' | grep -q ', $s x $s,'"
done

# --- the validators -------------------------------------------------------------------
expect "desktop-file-validate" desktop-file-validate "$desktop"
expect "appstreamcli validate --no-net" appstreamcli validate --no-net "$metainfo"
"$BUILD/kavel" -h >"$work/kavel.usage" 2>&1
"$BUILD/kavel-transfer" >"$work/kavel-transfer.usage" 2>&1
for page in kavel kavel-transfer; do
  gz="$root/usr/share/man/man1/$page.1.gz"
  zcat "$gz" | groff -ww -man -z 2>"$work/$page.groff"
  expect "$page(1): groff -ww -man shows no warnings" [ ! -s "$work/$page.groff" ]
  LC_ALL=C MANWIDTH=80 man --warnings -l "$gz" >"$work/$page.txt" 2>"$work/$page.man"
  expect "$page(1): man -l formats it without a word" [ $? -eq 0 -a ! -s "$work/$page.man" ]
  for opt in $(grep -oE -- '(^|[ [])--?[a-z][a-z-]*' "$work/$page.usage" | tr -d '[ ' | sort -u); do
    expect "$page(1) describes $opt" grep -qF -- "$opt" "$work/$page.txt"
  done
done
expect "kavel(1) names the installed data directory" grep -q '/usr/share/kavel/Fonts/' "$work/kavel.txt"
cat "$work"/*.groff "$work"/*.man

# --- the installed kavel in a window, from another directory -------------------
window_harness_start_xvfb 1280x800
mkdir -p "$work/run" "$work/home"
(cd "$work/run" && HOME="$work/home" exec timeout 60 "$root/usr/bin/kavel") \
  >"$work/kavel.out" 2>"$work/kavel.err" &
kavel_pid=$!
win=
for _ in $(seq 100); do
  win=$(xdotool search --name '^Kavel$' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.1
done
expect "the installed kavel opens the menu window" [ -n "$win" ]
if [ -n "$win" ]; then
  xdotool windowfocus --sync "$win" 2>/dev/null
  sleep 0.5
  keys() { xdotool key --delay 120 "$@"; sleep 0.5; }
  keys alt+a Return
  xdotool type --delay 60 "Installed Board"
  keys Return Down Return
  xdotool type --delay 60 "127.0.0.1"
  keys Return alt+s
  [ -n "${KAVEL_E2E_KEEP:-}" ] && import -window root "$work/installed-menu.png" 2>/dev/null
  keys alt+x y
  harness_wait_kavel 10
  expect "Alt+X then y leaves with status 0 (got $status)" [ "$status" -eq 0 ]
fi
expect "the entry added with Alt+A is saved" \
  grep -q '^Installed Board|127\.0\.0\.1|23|' "$(book_of "$work/run" "$work/home")"
expect "nothing on standard error" [ ! -s "$work/kavel.err" ]
expect "the configuration directory is the user's alone" \
  [ "$(stat -c %a "$work/home/.config/kavel" 2>/dev/null)" = 700 ]
expect "nothing is written in the directory it was started from" [ -z "$(ls -A "$work/run")" ]
(cd "$work/run" && HOME="$work/home" "$root/usr/bin/kavel" -h) >"$work/help.out" 2>&1
expect "-h names the phonebook in use" \
  grep -qxF "Phone book: $(book_of "$work/run" "$work/home")" "$work/help.out"

# --- the console dialogue without a display -----------------------------------------
# console_run KAVEL RUN_DIR HOME [WRAPPER...]: adds an entry on the console.
console_run() {
  local kavel=$1 dir=$2 home=$3; shift 3
  mkdir -p "$dir" "$home"
  printf '%s\n' a "Console Board" console.example 2323 "" "" "" "" n "" q |
    (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER HOME="$home" \
      timeout 20 "$@" "$kavel") >"$dir.out" 2>&1
  status=$?
}
console_run "$root/usr/bin/kavel" "$work/console" "$work/console-home"
expect "console: exits 0 (got $status)" [ "$status" -eq 0 ]
expect "console: the prompt" grep -qF "A add, E type, D delete, P paths, S sort, Q quit:" "$work/console.out"
expect "console: the entry is saved" \
  grep -q '^Console Board|console\.example|2323|' "$(book_of "$work/console" "$work/console-home")"
expect "console: it says which phonebook it edits" \
  grep -qxF "Phone book: $(book_of "$work/console" "$work/console-home")" "$work/console.out"

# --- the Debian package ------------------------------------------------------------------
mkdir -p "$work/pkg"
cpack --config "$BUILD/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1
deb=$(ls "$work"/pkg/kavel_*.deb 2>/dev/null)
expect "cpack makes kavel_*.deb" [ -n "$deb" ]
[ -n "$deb" ] || { cat "$work/cpack.log"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libsdl2 libfreetype libfontconfig libpng; do
  expect "the package depends on $lib" grep -q "$lib" <<<"$depends"
done
lintian --no-tag-display-limit "$deb" >"$work/lintian.out" 2>&1
cat "$work/lintian.out"
expect "lintian reports no error" bash -c "! grep -q '^E:' '$work/lintian.out'"
dpkg -x "$deb" "$work/unpacked"
expect "man pages are compressed in the package" [ -f "$work/unpacked/usr/share/man/man1/kavel.1.gz" ]

# The unpacked copy runs with the build and source trees hidden behind empty
# mounts (a mount namespace of its own), so it can read nothing from them.
hide=()
if unshare -m --propagation private true 2>/dev/null; then
  hide=(unshare -m --propagation private sh -c
    'mount -t tmpfs none "$0" && mount -t tmpfs none "$1" && shift && exec "$@"' "$BUILD" "$SRC")
else
  echo "note: no mount namespace here; the package runs with the build tree in place"
fi
console_run "$work/unpacked/usr/bin/kavel" "$work/pkgrun" "$work/pkg-home" "${hide[@]}"
expect "package: the console dialogue exits 0 (got $status)" [ "$status" -eq 0 ]
expect "package: the entry is saved" \
  grep -q '^Console Board|console\.example|2323|' "$(book_of "$work/pkgrun" "$work/pkg-home")"
[ "$fail" -eq 0 ] || cat "$work/pkgrun.out" "$work/console.out"

[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
