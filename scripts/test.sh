#!/usr/bin/env bash
# Builds everything from scratch in build-test/ and runs the whole test suite with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build-test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRM_BUILD_TESTS=ON
cmake --build build-test -j "$(nproc)"
ctest --test-dir build-test --output-on-failure -j "$(nproc)"
