#!/usr/bin/env bash
# Installs what is missing, builds Idlix (without its tests) in build-package and makes its
# Debian package there: build-package/idlix_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DIDLIX_TESTS=OFF >/dev/null
cmake --build build-package -j"$(nproc)" --target idlix
cd build-package
cpack -G DEB
