# Shell functions for the desktop tests (sourced by scripts/tray-screenshot.sh
# and scripts/windows-test.sh): a virtual X display (Xvfb) with a
# notification area (trayer) along its top edge, the icon docked in it, and
# a screenshot.
#
#   desktop_start            starts both on a free display, exports DISPLAY
#                            and adds their process ids to desktop_pids;
#                            returns 1 (the reason on standard error) when
#                            either cannot start
#   desktop_stop             ends them
#   desktop_docked_icon      prints "X Y W H" of the first icon docked in the
#                            notification area; returns 1 when none is
#   desktop_screenshot PNG   writes the whole screen to PNG

desktop_pids=()

desktop_start() {
  local display="" n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "desktop: no free X display number" >&2; return 1; }
  export DISPLAY="$display"
  command -v Xvfb >/dev/null || { echo "desktop: no Xvfb (Debian package xvfb)" >&2; return 1; }
  Xvfb "$DISPLAY" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 &
  desktop_pids+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo >/dev/null 2>&1 || { echo "desktop: Xvfb did not start on $DISPLAY" >&2; return 1; }
  xsetroot -solid '#5b7fa6' 2>/dev/null || true

  # The notification area: a panel along the top edge.
  trayer --edge top --align right --widthtype request --height 28 --transparent false \
    --tint 0x303030 --SetDockType true --SetPartialStrut true >/dev/null 2>&1 &
  desktop_pids+=($!)
  # (a moment more for it to take the notification area's selection)
  for _ in $(seq 50); do desktop_panel >/dev/null && sleep 0.5 && return 0; sleep 0.1; done
  echo "desktop: trayer did not start on $DISPLAY" >&2
  return 1
}

desktop_stop() {
  local i
  for ((i = ${#desktop_pids[@]} - 1; i >= 0; i--)); do
    kill "${desktop_pids[i]}" 2>/dev/null || true
    wait "${desktop_pids[i]}" 2>/dev/null || true
  done
  desktop_pids=()
}

# The notification area's panel window.
desktop_panel() {
  xwininfo -root -tree 2>/dev/null | awk '/"panel": \("panel" "trayer"\)/ {print $1; found=1; exit} END {exit !found}'
}

desktop_docked_icon() {
  local panel
  panel="$(desktop_panel)" || return 1
  # A docked icon is a window of its program (it has a class) inside the
  # panel: "0x... (has no name): ("prog" "Prog")  20x26+0+0  +619+1".
  xwininfo -tree -id "$panel" 2>/dev/null | sed -nE \
    's/.*\("[^"]+" "[^"]*"\) +([0-9]+)x([0-9]+)[+-][0-9-]+[+-][0-9-]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/p' |
    awk '$3 > 1 && $4 > 1 {print; found=1; exit} END {exit !found}'
}

desktop_screenshot() {
  mkdir -p "$(dirname "$1")"
  import -window root "$1"
}
