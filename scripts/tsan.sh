#!/usr/bin/env bash
# Builds the programs that run threads under ThreadSanitizer in build-tsan/ and runs them RUNS
# times each (default 3), each run a fresh process: a race in a first-use initialisation shows
# only once per process. The programs: the host test program (its concurrency test and the
# handle closed from another thread), the liboasys test program (threads on different
# documents) and the tools' batch tests (oasys2txt with several workers). Any report fails.
# Tests/host/tsan.supp holds the suppressions (GLib and libgsf only, each with its reason).
# BUILD_DIR names another build folder; RUNS=50 for a longer hunt.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-tsan}
RUNS=${RUNS:-3}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRM_SANITIZE=thread \
  -DKRM_BUILD_TESTS=ON -DKRM_BUILD_TOOLS=ON -DKRM_BUILD_FUZZERS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target test_host test_oasys test_tools oasys2txt oasysinfo
export TSAN_OPTIONS="suppressions=$PWD/Tests/host/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
run() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log"; rm -f "$log"
    echo "tsan.sh: FAILED: $*" >&2
    exit 1
  fi
  rm -f "$log"
}
for i in $(seq "$RUNS"); do
  echo "tsan.sh: run $i of $RUNS"
  run "$BUILD_DIR/Tests/test_host"
  run "$BUILD_DIR/Tests/oasys/test_oasys"
  run "$BUILD_DIR/Tests/tools/test_tools" --gtest_filter='*two_workers*'
done
echo "tsan.sh: $RUNS clean runs"
