#!/usr/bin/env bash
# Makes docs/lancfg_gui.png: the main dialog of lancfg_gui with the demonstration devices,
# drawn off screen. Devices and dialog meet in a private network namespace; nothing leaves
# the machine.
# Usage: scripts/screenshot-lancfg-gui.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/default}" && pwd)"
OUT="$ROOT/docs/lancfg_gui.png"
for program in lanif-sim lancfg_gui_screenshot; do
  if [ ! -x "$BUILD/bin/$program" ]; then
    echo "missing $BUILD/bin/$program: build the targets lanif-sim and lancfg_gui_screenshot" >&2
    exit 1
  fi
done
mkdir -p "$ROOT/docs"

if [ "${VK_IN_NETNS:-}" != "1" ]; then
  exec "$ROOT/scripts/netns-run.sh" "$0" "$BUILD"
fi

WORK="$(mktemp -d)"
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Two firmware files, so that the dialog shows its file box.
printf '0004DEADBEEF' > "$WORK/kplan_1.240.enc"
printf '0004DEADBEEF' > "$WORK/kplan_1.300.enc"

"$BUILD/bin/lanif-sim" -c "$ROOT/tools/lanif-sim/examples/demo.ini" > "$WORK/sim.log" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do
  grep -q 'ready' "$WORK/sim.log" && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/sim.log" >&2; exit 1; }
  sleep 0.1
done
grep -q 'ready' "$WORK/sim.log" || { echo "the simulator did not start" >&2; exit 1; }

QT_QPA_PLATFORM=offscreen "$BUILD/bin/lancfg_gui_screenshot" "$OUT" "$WORK"
echo "wrote $OUT"
