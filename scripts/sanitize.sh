#!/usr/bin/env bash
# Builds the whole suite with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs every test there. Any finding stops the test that made it: UBSan does not
# recover (-fno-sanitize-recover=all) and a leak fails the program at exit. test_fuzzreplay runs
# every stored fuzz input (Fuzz/corpus/) here, so the corpus is replayed under the sanitizers.
# BUILD_DIR names another build folder; CTEST_ARGS adds ctest arguments (e.g. -R Host).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-asan}
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKRM_SANITIZE=address,undefined -DKRM_BUILD_TESTS=ON -DKRM_BUILD_FUZZERS=OFF
cmake --build "$BUILD_DIR" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The Python tests load the extension into an uninstrumented interpreter, which cannot host the
# sanitizer runtime: they run in the ordinary build only (label "python").
# shellcheck disable=SC2086
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" -LE python ${CTEST_ARGS:-}
