#!/usr/bin/env bash
# Installs what building and running need, builds Idlix and starts it (under
# Xvfb when there is no display). Leaves the tests out: test.sh builds them.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIDLIX_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target idlix
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Idlix under Xvfb."
  exec xvfb-run -a -s "-screen 0 1024x768x24" ./build/idlix
fi
exec ./build/idlix
