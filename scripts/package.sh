#!/usr/bin/env bash
# Installs what is missing, builds Idlix (without its tests) and makes its
# Debian package: build-package/idlix_<version>_<arch>.deb, or in the folder
# named by IDLIX_PACKAGE_DIR. With IDLIX_PACKAGE_BUILT naming a build folder
# that already holds the program (test.sh's), that program is packed as it
# is and nothing is compiled again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh package
build=${IDLIX_PACKAGE_DIR:-build-package}
if [ -n "${IDLIX_PACKAGE_BUILT:-}" ]; then
  built=$(realpath "$IDLIX_PACKAGE_BUILT")
  if [ ! -f "$built/CPackConfig.cmake" ] || [ ! -x "$built/idlix" ]; then
    echo "package.sh: $IDLIX_PACKAGE_BUILT holds no built program to pack" >&2
    exit 1
  fi
  mkdir -p "$build"
  out=$(realpath "$build")
  cd "$built"
  cpack -G DEB -B "$out"
  exit
fi
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
