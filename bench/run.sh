#!/usr/bin/env bash
# Builds and runs the benchmarks (inside private network namespaces where they send datagrams).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
scripts/netns-run.sh build/default/bin/bench_lan
for b in build/default/bin/bench_service build/default/bin/bench_web; do
  if [ -x "$b" ]; then scripts/netns-run.sh "$b"; fi
done
