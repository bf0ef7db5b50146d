#!/usr/bin/env bash
# Installs what is missing, builds Idlix (without its tests) and makes its
# Debian package: build-package/idlix_<version>_<arch>.deb, or in the folder
# named by IDLIX_PACKAGE_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh package
build=${IDLIX_PACKAGE_DIR:-build-package}
launcher=()
if command -v ccache >/dev/null; then
  # Paths below the sources are hashed relative to them, so a rebuild, or a
  # build in another clone, takes what was compiled before.
  export CCACHE_BASEDIR="$PWD"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DIDLIX_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target idlix
cd "$build"
cpack -G DEB
