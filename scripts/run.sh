#!/usr/bin/env bash
# Installs what is missing, builds the release programs and starts the reader:
# in a window where a display exists, else headless with the screen written
# to a PNG file (see README). Arguments go to the reader ("/update" refreshes
# every channel and ends).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

reader=build/release/quillet/quillet
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QUILLET_HEADLESS:-}" ]; then
  exec "$reader" "$@"
fi
export QUILLET_HEADLESS=1
export QUILLET_SCREENSHOT="${QUILLET_SCREENSHOT:-$PWD/build/release/quillet-screen.png}"
echo "No display: the reader runs headless and writes its screen to $QUILLET_SCREENSHOT."
echo "Stop it with Ctrl-C; start it with /update to refresh every channel and end by itself."
exec "$reader" "$@"
