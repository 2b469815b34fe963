#!/bin/bash
# The Debian package as a user gets it: built by cpack from this build tree, unpacked into
# a temporary root, its window started from there under the offscreen platform, its
# companion programs run against each other, its desktop entry validated and the whole
# package checked by lintian.
#   tests/package_test.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "package_test: $*" >&2
  exit 1
}

# Waits, up to seconds, until the command succeeds.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

(cd "$build" && cpack --config CPackConfig.cmake -B "$work/out") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/vortalin_*.deb)
((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "expected one vortalin_*.deb, found: ${debs[*]}"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for file in usr/bin/vortalin usr/bin/vortalin-cli usr/bin/vortalin-sim \
            usr/share/applications/vortalin.desktop usr/share/icons/hicolor/scalable/apps/vortalin.svg \
            usr/share/doc/vortalin/copyright usr/share/man/man1/vortalin-cli.1.gz; do
  [[ -f $root/$file ]] || fail "the package lacks /$file"
done
png=$root/usr/share/icons/hicolor/32x32/apps/vortalin.png
[[ $(file -b "$png") == "PNG image data, 32 x 32,"* ]] || fail "not a 32 x 32 PNG: $(file -b "$png")"

desktop=$root/usr/share/applications/vortalin.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the entry"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ -x $root/usr/bin/${exec_line%% *} ]] || fail "Exec=$exec_line is not a program of the package"
[[ $(sed -n 's/^Icon=//p' "$desktop") == vortalin ]] || fail "Icon= is not the theme's vortalin"

# The window is up once its event loop has painted it for the first time: Qt's painting
# log names the flush of the top-level window.
log=$work/window.log
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.widgets.painting=true" \
  "$root/usr/bin/vortalin" >"$log" 2>&1 &
window=$!
pids+=("$window")
window_painted() { grep -q "Flushing .* of TForm1" "$log" || ! kill -0 "$window" 2>/dev/null; }
wait_until 20 window_painted || fail "the window did not show within 20 s"
kill -0 "$window" 2>/dev/null || { cat "$log" >&2; fail "the installed vortalin exited at start-up"; }
grep -q "Flushing .* of TForm1" "$log" || fail "the window never painted"
kill -TERM "$window"
status=0
wait "$window" || status=$?
((status == 128 + 15)) || { tail -20 "$log" >&2; fail "vortalin ended with status $status, not by SIGTERM"; }

# The companion programs from the package, against each other.
"$root/usr/bin/vortalin-sim" --link "$work/ttyVRT0" >"$work/sim.out" 2>"$work/sim.err" &
pids+=("$!")
wait_until 10 test -s "$work/sim.out" || { cat "$work/sim.err" >&2; fail "vortalin-sim did not publish its port"; }
reading=$("$root/usr/bin/vortalin-cli" read "$work/ttyVRT0") || fail "vortalin-cli read failed"
[[ $reading == "address 005 revision 01.00" ]] || fail "vortalin-cli read printed '$reading'"

lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian reports errors or warnings"; }
echo "package_test: $(basename "$deb") passes"
