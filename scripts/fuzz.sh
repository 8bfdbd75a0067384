#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for the given time on its seed corpus.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
# Targets: the folders of tests/fuzz/corpus. New inputs that add coverage collect in
# build/fuzz/corpus/<target>; an input that breaks a target is saved in build/fuzz/artifacts/
# and ends the run with an error. Once the fault is mended, copy that input into
# tests/fuzz/corpus/<target>/ so that every build's test run checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

bash scripts/install-deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVK_FUZZ=ON -DVK_SANITIZE=address,undefined \
  -DVK_BUILD_GUI=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p build/fuzz/artifacts
for target in "${targets[@]}"; do
  work="build/fuzz/corpus/$target"
  mkdir -p "$work"
  echo "== $target: ${seconds} s"
  "build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/artifacts/$target-" "$work" "tests/fuzz/corpus/$target" \
    2>&1 | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|property broken|artifact_prefix|Test unit written)' || true
  if ls "build/fuzz/artifacts/$target-"* >/dev/null 2>&1; then
    echo "$target: an input broke the target, see build/fuzz/artifacts/" >&2
    exit 1
  fi
done
echo "fuzzing passed: ${#targets[@]} targets, ${seconds} s each"
