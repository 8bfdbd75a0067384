#!/usr/bin/env bash
# Runs a command inside a private network namespace whose loopback interface carries multicast,
# so that simulated devices and the programs meet there and nothing leaves the machine.
# Usage: scripts/netns-run.sh COMMAND [ARGS...]
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi
if [ "${VK_IN_NETNS:-}" = "1" ]; then
  exec "$@"
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
exec $SUDO unshare -n -- env VK_IN_NETNS=1 bash -c '
  ip link set lo up
  ip link set lo multicast on
  ip route add 224.0.0.0/4 dev lo
  exec "$@"' netns-run "$@"
