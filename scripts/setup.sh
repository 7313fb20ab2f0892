#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tools and the tests need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq build-essential cmake ninja-build pkg-config \
  libgsf-1-dev libgsf-bin libicu-dev libgtest-dev libgmock-dev libbenchmark-dev util-linux \
  python3-dev pybind11-dev python3-pytest python3-dask python3-distributed >/dev/null
# The sanitizer and fuzz steps: clang with its sanitizer runtimes and libFuzzer, and llvm for
# llvm-symbolizer (source lines in sanitizer reports) and the LTO linker plugin.
$SUDO apt-get install -y -qq clang llvm libclang-rt-dev >/dev/null
