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
  # Paths below the sources are hashed relative to them (and the build
  # folder is left out), so a rebuild, a build in another clone, or the
  # package built after test.sh's build takes what was compiled before.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Optimised with debug information, as Debian builds its packages; CPack
# strips the program it packs.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIDLIX_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target idlix
cd "$build"
cpack -G DEB
