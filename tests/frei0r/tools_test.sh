#!/usr/bin/env bash
# The frei0r plug-in inside programs we did not write: each case draws two
# lines over a 640x360 plate with a tool and with `quillomark render`, and
# the pixels must be identical.
#   tools_test.sh ffmpeg|gst|melt BUILD OUT  every case through that tool
#   tools_test.sh installed BUILD OUT        cmake --install, then ffmpeg with the installed files
#   tools_test.sh frames BUILD OUT           200 frames through ffmpeg, size and text changed by sendcmd
set -euo pipefail
mode=$1 build=$2 out=$3/frei0r-$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export FREI0R_PATH=$build/frei0r-1 GST_REGISTRY=$out/gst-registry.bin # a fresh scan of FREI0R_PATH
cli=$build/bin/quillomark fail=0

flags=(bold italic underline outline composite draft)
# label | text ("\n" starts a line) | font | size | x y | colour | align | the flags above
cases=(
  'over-hq|Hello\nWorld|DejaVu Sans|0.140625|0.5 0.5|ffffff|center|0 0 0 0 1 0'
  'alone-hq|Quillo\nmark|Liberation Serif|0.125|0.5 0.5|ffcc00|left|0 0 0 0 0 0'
  'over-draft|Draft\nlines|DejaVu Sans|0.09375|0.5 0.5|00ffff|right|0 0 0 0 1 1'
  'alone-draft|Key\nme|Liberation Sans|0.109375|0.5 0.5|ffffff|center|0 0 0 0 0 1'
  'styled|Bold\nstyles|DejaVu Serif|0.125|0.5 0.5|ff3399|center|1 1 1 1 1 0'
  'placed|Off\ncentre|DejaVu Sans|0.0625|0.25 0.3|ffcc00|left|0 1 0 0 1 0'
)

say() { echo "frei0r $mode: $*"; }
pixels() { ffmpeg -nostdin -hide_banner -loglevel error -y -i "$1" -f rawvideo -pix_fmt rgba "$2"; }
calc() { awk "BEGIN { printf $1 }"; }

load() {
  IFS='|' read -r label text font size pos hex align on <<<"$1"
  read -r x y <<<"$pos"
  read -r -a on <<<"$on"
  read -r red green blue <<<"$(calc "\"%.6f %.6f %.6f\", $((16#${hex:0:2})) / 255, $((16#${hex:2:2})) / 255, $((16#${hex:4:2})) / 255")"
}
# Each flag through printf FORMAT (its name, then ON or OFF).
spell() { for i in "${!flags[@]}"; do printf "$1" "${flags[i]}" "$([ "${on[i]}" = 1 ] && echo "$2" || echo "$3")"; done; }

reference() {
  local args=("$text" --input plate.png --font "$font" --color "#$hex" --align "$align"
    --size "$(calc "\"%d\", $size * 512 + 0.5")" --position "$(calc "\"%g,%g\", $x * 640, $y * 360")")
  for i in "${!flags[@]}"; do [ "${on[i]}" = 1 ] && args+=("--${flags[i]}"); done
  "$cli" render "${args[@]}" -q -o "$label.ref.png" >/dev/null
}

# By position; ffmpeg's parser drops backslashes, so a line break is a real one.
ffmpeg_params() { echo "${text//\\n/$'\n'}|$font|$size|$x/$y|$red/$green/$blue|$align$(spell '|%.0s%s' y n)"; }
run_ffmpeg() {
  ffmpeg -nostdin -hide_banner -loglevel error -y -i plate.png \
    -vf "frei0r=filter_name=quillomark:filter_params='$(ffmpeg_params)'" -pix_fmt rgba -update 1 "$label.$mode.png"
}
# gst-launch unescapes its arguments: "\\n" reaches the plug-in as "\n".
run_gst() {
  # shellcheck disable=SC2046
  gst-launch-1.0 -q filesrc location=plate.png ! pngdec ! videoconvert ! video/x-raw,format=RGBA ! \
    frei0r-filter-quillomark text="${text//\\/\\\\}" font="$font" size="$size" position-x="$x" position-Y="$y" \
    color-r="$red" color-g="$green" color-b="$blue" align="$align" $(spell '%s=%s ' true false) ! \
    pngenc ! filesink location="$label.$mode.png"
}
run_melt() {
  # shellcheck disable=SC2046
  melt -silent -profile "$out/profile" plate.png out=0 -filter frei0r.quillomark text="$text" font="$font" \
    size="$size" color="#$hex" align="$align" $(spell '%s=%s ' 1 0) \
    -consumer avformat:"$label.$mode.png" vcodec=png pix_fmt=rgba update=1 >melt.log 2>&1 || { cat melt.log; return 1; }
}

compare() {
  pixels "$label.ref.png" ref.rgba
  pixels "$label.$mode.png" got.rgba
  if cmp -s ref.rgba got.rgba; then
    say "$label: identical"
  else
    say "$label: FAILED, $(cmp -l ref.rgba got.rgba | wc -l) bytes differ from the command line's" && fail=1
  fi
}

ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=s=640x360,format=rgba" -frames:v 1 -update 1 plate.png
# melt crashes on a profile without a description.
printf '%s\n' description=640x360 width=640 height=360 progressive=1 frame_rate_num=25 frame_rate_den=1 \
  sample_aspect_num=1 sample_aspect_den=1 display_aspect_num=16 display_aspect_den=9 colorspace=709 >profile

case $mode in
ffmpeg | gst | melt)
  for c in "${cases[@]}"; do
    load "$c"
    # MLT's frei0r bridge passes doubles, booleans, colours and strings only.
    if [ "$mode" = melt ] && [ "$x $y" != "0.5 0.5" ]; then
      say "$label: left out: melt cannot set a position parameter" && continue
    fi
    reference
    "run_$mode"
    compare
  done
  ;;
installed)
  cmake --install "$build" --prefix "$out/prefix" >/dev/null
  FREI0R_PATH=$out/prefix/lib/frei0r-1 cli=$out/prefix/bin/quillomark
  load "${cases[0]}"
  reference
  run_ffmpeg
  compare
  # The installed program finds its image-library back end too.
  "$cli" render "$text" --input plate.png -q -o "$label.tif" && pixels "$label.tif" tif.rgba || fail=1
  ;;
frames)
  # One still plate, a new size every frame and new text every 50. In the
  # sanitizer build ffmpeg runs with the runtime preloaded: a leak fails it.
  if [[ $(ldd "$FREI0R_PATH/quillomark.so") == *libasan* ]]; then
    printf '%s\n' leak:libfontconfig.so >lsan.supp # fontconfig keeps its configuration
    export LD_PRELOAD=$(gcc -print-file-name=libasan.so) LSAN_OPTIONS=suppressions=$out/lsan.supp:print_suppressions=0
  fi
  load "${cases[0]}"
  for f in $(seq 0 199); do
    printf "%s frei0r filter_params 'Frame %d|%s|%s';\n" "$(calc "\"%.2f\", $f / 25")" $((f / 50)) "$font" \
      "$(calc "\"%.6f\", 0.02 + $f * 0.002")"
  done >commands.txt
  ffmpeg -nostdin -hide_banner -loglevel error -y -loop 1 -framerate 25 -i plate.png -frames:v 200 \
    -vf "sendcmd=f=commands.txt,frei0r=filter_name=quillomark:filter_params='$(ffmpeg_params)'" -f framemd5 frames.md5
  unset LD_PRELOAD
  frames=$(grep -vc '^#' frames.md5) distinct=$(grep -v '^#' frames.md5 | cut -d, -f6 | sort -u | wc -l)
  say "$frames frames, $distinct distinct"
  [ "$frames" = 200 ] && [ "$distinct" -gt 150 ] || fail=1
  ;;
esac
exit $fail
