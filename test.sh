#!/usr/bin/env bash
# Installs what building and testing need, builds Idlix with its tests and runs
# them through CTest. Turns the tests on whatever an earlier run.sh configured,
# and fails when no test ran. Extra arguments go to ctest (e.g. -R antiidle).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh test
# Through the compiler cache, as package.sh builds: the package test then
# compiles nothing twice.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIDLIX_TESTS=ON \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build -j"$(nproc)"
rm -f build/Testing/Temporary/LastTest.log
status=0
# Two cases per core: most of a case's time is spent waiting (for timers,
# servers, the test network), and a run keeps a core busy about a fifth of
# its time. Cases that measure time run alone all the same (RUN_SERIAL).
ctest --test-dir build --output-on-failure --no-tests=error -j"$(( $(nproc) * 2 ))" --timeout 600 "$@" \
  | tee build/ctest-output.txt || status=$?

# Every case that skipped, with its reason: CTest names a test network file
# only as a whole, and passes it when just some of its cases skipped.
log=build/Testing/Temporary/LastTest.log
if [ -f "$log" ]; then
  awk '/^[0-9]+\/[0-9]+ Test: / { test = $3; why = ""; next }
       /^[^ ]+:[0-9]+: Skipped$/ { getline why; next }
       /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ {
         name = (substr(test, length(test) - length($4) + 1) == $4) ? test : test " " $4
         print "  " name ": " why; why = "" }' "$log" \
    | sort -u >build/skipped-cases.txt
  if [ -s build/skipped-cases.txt ]; then
    echo "Skipped cases ($(wc -l <build/skipped-cases.txt)):"
    cat build/skipped-cases.txt
    # CTest's own tally stays the last word.
    grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' build/ctest-output.txt || true
  fi
fi
exit "$status"
