#!/usr/bin/env bash
# Installs what is missing, builds the release programs and starts the reader:
# in a window where a display exists, else headless (see README).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

reader=build/release/quillet/quillet
if [ -x "$reader" ]; then
  exec "$reader" "$@"
fi
echo "Built the libraries and tools in build/release; the reader program is not part of this build yet."
