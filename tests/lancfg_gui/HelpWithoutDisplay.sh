#!/bin/sh
# lancfg_gui answers --help and --version, with exit status 0, where no display can be had.
# Usage: HelpWithoutDisplay.sh PROGRAM EXPECTED_VERSION_LINE
set -eu
program=$1
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@"; }
help=$(run --help) || { echo "--help failed with status $?" >&2; exit 1; }
printf '%s\n' "$help" | grep -q '^Usage: lancfg_gui' || { echo "no usage line: $help" >&2; exit 1; }
version=$(run --version) || { echo "--version failed with status $?" >&2; exit 1; }
[ "$version" = "$2" ] || { echo "version: '$version', expected '$2'" >&2; exit 1; }
echo "help and version answered"
