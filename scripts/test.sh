#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Usage: scripts/test.sh [default|asan|tsan]
# Tests that send datagrams run each in a private network namespace of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/build.sh "$preset"
ctest --preset "$preset"
