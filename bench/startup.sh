#!/usr/bin/env bash
# Start-up and single-frame cost of quillomark, against ffmpeg's drawtext
# doing the same work (text over a 1280x720 PNG plate, written as PNG).
# Also shows whether the image library back end is loaded by commands that
# read or write no image. Needs hyperfine and ffmpeg (scripts/setup.sh).
#   bash bench/startup.sh [BUILD_DIR]      (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/native}")/bin
q="$bin/quillomark"
[ -x "$q" ] || { echo "no $q: build the native preset first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

ffmpeg -loglevel error -f lavfi -i testsrc2=size=1280x720 -frames:v 1 "$work/plate.png"

echo "== what each command loads (the image library back end should appear only for image files)"
for cmd in --version info fonts colors "render Hello -i $work/plate.png --composite -o $work/q.png" \
           "render Hello -i $work/plate.png --composite -o $work/q.exr"; do
  # shellcheck disable=SC2086
  loaded=$(LD_DEBUG=files "$q" $cmd 2>&1 >/dev/null | grep -c 'file=.*libOpenImageIO' || true)
  printf '  %-60s OpenImageIO loaded: %s\n' "quillomark ${cmd//$work\//}" "$([ "$loaded" -gt 0 ] && echo yes || echo no)"
done

echo "== start-up"
hyperfine -N --warmup 3 --runs 30 --style basic \
  "$q --version" "$q info" "$q fonts" "$q colors"

echo "== one frame: text over a 1280x720 PNG plate, written as PNG"
hyperfine -N --warmup 3 --runs 20 --style basic \
  -n quillomark "$q render Hello --size 72 --color white --align center --composite -i $work/plate.png -q -o $work/q.png" \
  -n "ffmpeg drawtext" "ffmpeg -y -loglevel error -i $work/plate.png -vf drawtext=fontfile=$font:text=Hello:fontsize=72:fontcolor=white:x=(w-text_w)/2:y=(h-text_h)/2 -frames:v 1 $work/f.png"

if command -v /usr/bin/time >/dev/null; then
  echo "== peak memory (KiB)"
  /usr/bin/time -f "  quillomark --version: %M" "$q" --version >/dev/null
fi
