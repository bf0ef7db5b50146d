#!/usr/bin/env bash
# Installs what is missing, builds Idlix and starts it (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIDLIX_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target idlix
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Idlix under Xvfb."
  exec xvfb-run -a -s "-screen 0 1024x768x24" ./build/idlix
fi
exec ./build/idlix
