#!/usr/bin/env bash
# Renders the demo frame with the command-line host: sets up the machine,
# builds what the demo needs in build/native, renders a 1280x720 plate with
# three centred lines of high-quality text composited over it, and prints
# where the image went.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "demo: building the command-line host, the module and its stand-ins"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --preset native >"$log" 2>&1 || { cat "$log"; echo "demo: configuring build/native failed"; exit 1; }
cmake --build build/native --target quillomark_cli quillomark -j"$(nproc)"

build/native/bin/quillomark demo -q -o out/demo.png
