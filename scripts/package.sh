#!/usr/bin/env bash
# Makes the Debian package: installs what the build needs, builds the installed programs and
# the package's generated files with the default preset, and runs CPack.
# Usage: scripts/package.sh [OUTPUT_DIR]   (default build/default/package)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/default/package}"
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target lancfg lancfg_gui kp_config nrd vk_package_files
mkdir -p "$out"
cpack --config build/default/CPackConfig.cmake -B "$out"
rm -rf "$out/_CPack_Packages"
for deb in "$out"/*.deb; do
  echo "Install it with: sudo apt install $(realpath "$deb")"
done
