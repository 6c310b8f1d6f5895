#!/usr/bin/env bash
# Regenerates the pictures of the settings dialog in docs/images/ from the
# Windows build: the dialog runs under Wine on a virtual display of its own
# and is photographed from the screen.
#
#   scripts/screenshot.sh [BUILD_DIR]      (default build/windows)
#
#   settings-dialog-ru.png          first start: built-in Russian texts, empty
#   settings-dialog-en.png          English language file, settings filled in
#   settings-dialog-en-tooltip.png  the same, the mouse over the folder button,
#                                   its tool tip whole; what lies outside the
#                                   dialog and the tip is transparent
#
# Needs the Windows build (cmake --preset windows), Wine, Xvfb, xdotool and
# ImageMagick (installed here where missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows screenshot
root=$PWD
build=$(cd "${1:-build/windows}" && pwd)
out=$root/docs/images

cmake --build "$build" --target mistlock_show_dialog >/dev/null
program=$build/tests/windows/mistlock_show_dialog.exe
mkdir -p "$out"

# A Wine prefix of its own, apart from the tests'. Debian's Wine does not put
# its fonts (MS Sans Serif, Tahoma, Marlett for the caption buttons) into a new
# prefix, and without them every text falls back to DejaVu Sans, wider than
# the layout was made for; they are copied in here.
export WINEPREFIX=$build/screenshot-prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine_fonts=/usr/share/wine/fonts

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, whatever else runs.
for n in $(seq 140 180); do
  [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
  export DISPLAY=":$n"
  break
done
[[ -n $xvfb_pid ]] || { echo "no free display" >&2; exit 1; }

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1 </dev/null || true
  wineserver -w
fi
if [[ -d $wine_fonts ]]; then
  cp -n "$wine_fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
else
  echo "warning: no $wine_fonts (Debian package fonts-wine): texts will be in a substitute font" >&2
fi
# Without a window manager Wine draws the frames itself.
wine reg add 'HKCU\Software\Wine\AppDefaults\mistlock_show_dialog.exe\X11 Driver' \
  /v Managed /d N /f >/dev/null 2>&1 </dev/null

# shot NAME LOCALE TOOLTIP SETUP...: SETUP fills the settings folder.
shot() {
  local name=$1 locale=$2 tooltip=$3
  shift 3
  local folder=$work/$name
  mkdir -p "$folder"
  "$@" "$folder"
  LC_ALL=$locale wine "$program" "Z:$folder" "Z:$folder/rect.txt" "Z:$folder/stop" "Z:$folder/tip.txt" \
    >/dev/null 2>&1 </dev/null &
  local pid=$!
  for _ in $(seq 1 300); do [[ -s $folder/rect.txt ]] && break; sleep 0.1; done
  [[ -s $folder/rect.txt ]] || { echo "the dialog did not appear for $name" >&2; kill "$pid"; return 1; }
  local left top width height bx by active
  # Written by a Windows program: its lines end in CR LF.
  read -r left top width height bx by active < <(tr -d '\r' <"$folder/rect.txt")
  [[ $active == 1 ]] || echo "note: the dialog for $name is not the active window" >&2
  if [[ $tooltip == yes ]]; then
    xdotool mousemove "$bx" "$by"
    for _ in $(seq 1 50); do [[ -s $folder/tip.txt ]] && break; sleep 0.1; done
    [[ -s $folder/tip.txt ]] || { echo "no tool tip appeared for $name" >&2; touch "$folder/stop"; return 1; }
    sleep 0.5  # until the tip is drawn
    local tl tt tw th
    read -r tl tt tw th < <(tr -d '\r' <"$folder/tip.txt")
    # The picture takes in the dialog and the tip; the screen's root window
    # between them is left out (transparent).
    local x0=$((left < tl ? left : tl)) y0=$((top < tt ? top : tt))
    local x1=$((left + width > tl + tw ? left + width : tl + tw))
    local y1=$((top + height > tt + th ? top + height : tt + th))
    import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$work/$name.png"
    convert "$work/$name.png" \
      \( -size "$((x1 - x0))x$((y1 - y0))" xc:black -fill white \
         -draw "rectangle $((left - x0)),$((top - y0)) $((left + width - 1 - x0)),$((top + height - 1 - y0))" \
         -draw "rectangle $((tl - x0)),$((tt - y0)) $((tl + tw - 1 - x0)),$((tt + th - 1 - y0))" \) \
      -alpha off -compose CopyOpacity -composite "$out/$name.png"
  else
    xdotool mousemove 0 0
    sleep 0.5
    import -window root -crop "${width}x${height}+${left}+${top}" +repage "$out/$name.png"
  fi
  touch "$folder/stop"
  wait "$pid" || true
  echo "wrote docs/images/$name.png"
}

no_files() { :; }
english_filled() {
  cp "$root/lang/English/Mistlock.lng" "$1/Mistlock.lng"
  printf 'off\r\nfile_check\r\ncorrect horse battery staple\r\nC:\\Users\\Alice\\Documents\\mistlock.key\r\n' \
    >"$1/Mistlock.ini"
  printf '123456789\r\n987654321\r\n555000111\r\n' >"$1/MistlockWho.ini"
}

shot settings-dialog-ru ru_RU.UTF-8 no no_files
shot settings-dialog-en en_US.UTF-8 no english_filled
shot settings-dialog-en-tooltip en_US.UTF-8 yes english_filled
