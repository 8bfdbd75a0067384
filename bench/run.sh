#!/usr/bin/env bash
# Builds and runs the benchmarks. Those that send datagrams run inside a private network
# namespace; the others talk to 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
bin=build/default/bin
scripts/netns-run.sh "$bin/bench_lan"
scripts/netns-run.sh "$bin/bench_lan_fleet"
scripts/netns-run.sh "$bin/bench_provisioning"
scripts/netns-run.sh "$bin/bench_inventory"
scripts/netns-run.sh "$bin/app_start_bench" "${APP_BENCH_RUNS:-5}"
"$bin/web_gateway_bench"
"$bin/web_slow_client_bench"
"$bin/service_bench" "${SERVICE_BENCH_SECONDS:-30}" 5
