#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Usage: scripts/test.sh [default|asan|tsan]
# Tests that send datagrams run each in a private network namespace of their own. The default
# run ends by fuzzing each reader of outside input for a few seconds on its corpus
# (FUZZ_SECONDS, default 3; 0 leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/build.sh "$preset"
ctest --preset "$preset"
if [ "$preset" = "default" ] && [ "${FUZZ_SECONDS:-3}" != "0" ]; then
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-3}"
fi
