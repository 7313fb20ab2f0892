#!/usr/bin/env bash
# Builds the library and the tools (no tests) in build/, then extracts the bundled combined sample
# with oasys2txt and shows its properties with oasysinfo.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
echo "== oasys2txt examples/sample_combined.oas"
build/Source/tools/oasys2txt examples/sample_combined.oas
echo "== oasysinfo examples/sample_combined.oas"
build/Source/tools/oasysinfo examples/sample_combined.oas
