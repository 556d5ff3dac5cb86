#!/usr/bin/env bash
# Burning a title into a 100-frame 1080p clip with its sound: quillomark
# against one ffmpeg drawtext command doing the same work (decode, draw,
# H.264 at CRF 18, sound copied), both free to use every core. The target:
# quillomark takes no more than 1.5 times as long.
# Needs hyperfine and ffmpeg (scripts/setup.sh).
#   bash bench/compare_video.sh [BUILD_DIR]      (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/native}")/bin
q="$bin/quillomark"
[ -x "$q" ] || { echo "no $q: build the native preset first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

ffmpeg -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -frames:v 100 -t 4 -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/clip.mp4"

echo "== a title burnt into 100 frames of 1920x1080 H.264, sound copied ($(nproc) cores)"
hyperfine -N --warmup 1 --runs "${RUNS:-5}" --style basic --export-json "$work/times.json" \
  -n quillomark "$q render Title --size 72 --color white --align center --composite -i $work/clip.mp4 -q -o $work/q.mp4" \
  -n "ffmpeg drawtext" "ffmpeg -y -loglevel error -i $work/clip.mp4 -vf drawtext=fontfile=$font:text=Title:fontsize=72:fontcolor=white:x=(w-text_w)/2:y=(h-text_h)/2 -c:v libx264 -crf 18 -pix_fmt yuv420p -c:a copy $work/f.mp4"

/usr/bin/python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
ratio = r["quillomark"] / r["ffmpeg drawtext"]
print(f"quillomark / ffmpeg drawtext: {ratio:.2f} (target <= 1.5): {'met' if ratio <= 1.5 else 'NOT met'}")
PY
