#!/bin/bash
# Builds the libFuzzer target in build-fuzz/ and runs it.
#   fuzz/run_fuzz.sh [seconds] [extra libFuzzer flags...]
# The working corpus (build-fuzz/corpus) grows from run to run; crashes,
# hangs and leaks are written to build-fuzz/artifacts/.
set -euo pipefail
# SARVEK_FUZZ_BUILD names a build folder configured with -DSARVEK_FUZZ=ON
# already (the sanitizer preset's build-asan is one): the target is built
# there instead of in a folder of its own.
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SARVEK_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
if [ -z "${SARVEK_FUZZ_BUILD:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSARVEK_FUZZ=ON -DSARVEK_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sarvek_fuzz fuzz_seeds -j2
mkdir -p "$build/corpus" "$build/artifacts"
# Absolute paths throughout: the target changes into a scratch folder for
# its blob files. -close_fd_mask=2 silences the tool's own error lines; the
# sanitizers' reports still reach the log.
"$build/fuzz/sarvek_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$@" "$build/corpus" "$build/fuzz_seeds" "$root/fuzz/regressions"
