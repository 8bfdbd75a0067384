#!/usr/bin/env bash
# The demo: builds the project, then, inside a private network namespace, starts simulated LAN
# interfaces and shows lancfg finding, showing, changing and updating them; then kp_config
# connects to one of them through the stand-in radio service: in a window where a display is
# available, else as screenshots of the main window and the wizard's pages.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${VK_IN_NETNS:-}" != "1" ]; then
  bash scripts/build.sh default
  exec scripts/netns-run.sh bash "$0" "$@"
fi

bin=build/default/bin
work=$(mktemp -d)
shots="$PWD/build/default/screenshots"
# What lancfg keeps for its user (the devices seen, the update history) stays in the demo's folder.
export XDG_STATE_HOME="$work/state"
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/lanif-sim" -c tools/lanif-sim/examples/demo.ini -l "$work/requests.log" > "$work/sim.out" &
sim=$!
for _ in $(seq 50); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
cat "$work/sim.out"

# A firmware file of 64 records of 1024 bytes each.
python3 - "$work/kplan_demo.enc" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for b in range(64):
        f.write("0400" + "".join("%02X" % ((b + i) & 0xFF) for i in range(1024)))
PY

run() {
  echo
  echo "\$ lancfg $*"
  set +e
  "$bin/lancfg" "$@"
  echo "(exit status $?)"
  set -e
}

run list
run show KPL0000001
run set KPL0000001 -i 192.168.1.61 -g 192.168.1.254
run show KPL0000001
run set KPL0000002 -d on
run set KPL0000002 -k FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF -d on
run set KPL0000002 -k 000102030405060708090A0B0C0D0E0F -d on
echo "(waiting 3 s for KPL0000002 to restart)"
sleep 3
run list
run fwupdate KPL0000001 -f "$work/kplan_demo.enc"
echo "(waiting 2 s for KPL0000001 to restart into its new firmware)"
sleep 2
run fwupdate --all -f "$work/kplan_demo.enc" --yes --expect-version 1.240 --skip-current \
  -k 000102030405060708090A0B0C0D0E0F
run history KPL0000001
run list --known
run show KPL0009999
run
echo
echo "The simulator saw $(wc -l < "$work/requests.log") requests."

# kp_config, in a throw-away home whose stored connection is the simulated LAN interface
# KPL0000001: it starts the stand-in radio service for it and shows the web UI.
echo
echo "== kp_config =="
home="$work/home"
mkdir -p "$home/.config/vK-7" "$work/run"
chmod 700 "$work/run"
printf '[Config]\nConnection=1\nLanifSerial=KPL0000001\n' \
  > "$home/.config/vK-7/Velantrix Konfigurator.conf"
export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/run}"
export XDG_DATA_HOME="$home/.local/share"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening kp_config; close its window to end the demo."
  HOME="$home" "$bin/kp_config"
else
  echo "No display: drawing the main window and the wizard's pages instead."
  mkdir -p "$shots"
  HOME="$home" QT_QPA_PLATFORM=offscreen "$bin/kp_config_screenshot" "$shots" 2>/dev/null
  echo "The screenshots are in $shots."
fi
