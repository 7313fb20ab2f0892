#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/ and runs each for FUZZ_SECONDS seconds (default 30), at most JOBS at a time (default
# the number of cores). Each starts by running every stored input of its corpus, so the corpus is
# replayed under the sanitizers first. The fuzzers work on a copy of Fuzz/corpus/ in a temporary
# folder: the checkout is left as it is. A crash, leak, timeout or broken contract fails the run;
# the input that made it is kept in build-fuzz/findings/<target>/ and belongs, once the fault is
# mended, in Fuzz/corpus/<target>/ so that test_fuzzreplay runs it on every build.
# Names as arguments run only those targets (e.g. scripts/fuzz.sh combined separated).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
JOBS=${JOBS:-$(nproc)}
if [ $# -gt 0 ]; then targets=("$@"); else
  mapfile -t targets < <(find Fuzz/corpus -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKRM_SANITIZE=address,undefined -DKRM_BUILD_FUZZERS=ON -DKRM_BUILD_TESTS=OFF -DKRM_BUILD_TOOLS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fuzz_one() {
  local target=$1 findings="$BUILD_DIR/findings/$1"
  cp -r "Fuzz/corpus/$target" "$work/$target"
  mkdir -p "$findings"
  if "$BUILD_DIR/Fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -timeout=25 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$findings/" "$work/$target" >"$work/$target.log" 2>&1; then
    echo "fuzz.sh: $target clean: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/$target.log" | grep -o '[0-9]*$') runs"
  else
    tail -n 80 "$work/$target.log"
    echo "fuzz.sh: FINDING in $target, input kept in $findings/" >&2
    return 1
  fi
}
failed=0
pids=()
for target in "${targets[@]}"; do
  fuzz_one "$target" & pids+=($!)
  if [ "${#pids[@]}" -ge "$JOBS" ]; then wait "${pids[0]}" || failed=1; pids=("${pids[@]:1}"); fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit "$failed"
