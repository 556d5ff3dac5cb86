#!/usr/bin/env bash
# quillomark against ffmpeg's drawtext on the same job, in the same run:
# three centred lines of DejaVu Sans at 72 px in #FFCC00 over an opaque grey
# 1920x1080 plate, composited at high quality, written as a 48-frame PNG
# sequence; and the same title burnt into a 100-frame 1920x1080 H.264 clip
# with its sound, written as H.264 (CRF 18) with the sound copied. Rounds alternate the two so that a busy machine slows both
# alike; both may use every core. Prints each round's time per frame, the
# ratio of the medians, the file size ratio and quillomark's peak memory.
#   bash bench/compare.sh [BUILD_DIR] [ROUNDS]   (default build/native, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
q=$(realpath "${1:-build/native}")/bin/quillomark
rounds=${2:-5}
frames=48
[ -x "$q" ] || { echo "no $q: build the native preset first" >&2; exit 1; }
for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "no $tool: run scripts/setup.sh" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
printf 'Quillomark\nText for motion graphics\nhigh quality, composited' >"$work/lines.txt"

# Each case writes its frames under $1 and leaves /usr/bin/time's report
# (seconds, peak KiB) in $1.time.
timed() {
  local out=$1
  shift
  rm -rf "$out" && mkdir -p "$out"
  /usr/bin/time -f '%e %M' -o "$out.time" "$@"
}

png_quillomark() {
  timed "$1" "$q" render --text-file "$work/lines.txt" --font "DejaVu Sans" --size 72 --color "#FFCC00" \
    --align center --position 50%,50% --composite --high-quality --plate 1920x1080 --plate-color "#808080" \
    --frames 1-$frames -q -o "$1/f.%04d.png"
}

png_ffmpeg() {
  timed "$1" ffmpeg -loglevel error -f lavfi -i "color=c=0x808080:s=1920x1080:r=25" -frames:v $frames \
    -vf "drawtext=fontfile=$font:textfile=$work/lines.txt:fontsize=72:fontcolor=0xFFCC00:x=(w-text_w)/2:y=(h-text_h)/2" \
    "$1/f.%04d.png"
}

# A title burnt into a 1920x1080 H.264 clip with its sound, made here once,
# and written as H.264 at CRF 18 with the sound copied.
video_clip() {
  [ -f "$work/clip.mp4" ] || ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -frames:v $frames -t $((frames / 25)) \
    -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/clip.mp4"
}

video_quillomark() {
  video_clip
  timed "$1" "$q" render --text-file "$work/lines.txt" --font "DejaVu Sans" --size 72 --color "#FFCC00" \
    --align center --position 50%,50% --composite --high-quality -i "$work/clip.mp4" -q -o "$1/out.mp4"
}

video_ffmpeg() {
  video_clip
  timed "$1" ffmpeg -loglevel error -i "$work/clip.mp4" \
    -vf "drawtext=fontfile=$font:textfile=$work/lines.txt:fontsize=72:fontcolor=0xFFCC00:x=(w-text_w)/2:y=(h-text_h)/2" \
    -c:v libx264 -crf 18 -pix_fmt yuv420p -c:a copy "$1/out.mp4"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ms_per_frame() { awk -v f=$frames '{ printf "%.1f", $1 * 1000 / f }' "$1.time"; }

compare() {
  local case=$1 qs=() fs=() peak=0
  echo "== $case: $frames frames, $rounds rounds"
  for ((r = 1; r <= rounds; r++)); do
    "${case}_quillomark" "$work/q"
    "${case}_ffmpeg" "$work/f"
    qs+=("$(ms_per_frame "$work/q")") fs+=("$(ms_per_frame "$work/f")")
    peak=$(awk -v p="$peak" '{ print ($2 > p) ? $2 : p }' "$work/q.time")
    printf '  round %d: quillomark %6s ms/frame   ffmpeg %6s ms/frame\n' "$r" "${qs[-1]}" "${fs[-1]}"
  done
  local qm fm qb fb
  qm=$(printf '%s\n' "${qs[@]}" | median) fm=$(printf '%s\n' "${fs[@]}" | median)
  qb=$(cat "$work"/q/* | wc -c) fb=$(cat "$work"/f/* | wc -c)
  awk -v qm="$qm" -v fm="$fm" -v qb="$qb" -v fb="$fb" -v n=$frames -v peak="$peak" 'BEGIN {
    printf "  median: quillomark %.1f ms/frame, ffmpeg %.1f ms/frame: quillomark takes %.2fx ffmpeg'"'"'s time\n", qm, fm, qm / fm
    printf "  files: quillomark %.1f KiB/frame, ffmpeg %.1f KiB/frame: %.2fx\n", qb / 1024 / n, fb / 1024 / n, qb / fb
    printf "  quillomark peak memory: %.0f MiB\n", peak / 1024 }'
}

echo "machine: $(nproc) cores, $(uname -m); load: $(uptime | sed 's/.*load average: //')"
compare png
# The footage target: no more than 1.5 times ffmpeg's time.
frames=100 compare video
