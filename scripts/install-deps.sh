#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping those already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev
  libssl-dev
  libxmlrpcpp-dev libexpat1-dev
  libcivetweb-dev
  nlohmann-json3-dev
  # the test of the Ansible module (it is skipped without it)
  ansible-core
  qt6-base-dev qt6-webengine-dev
  tcl8.6
  iproute2 util-linux
  xvfb
  clang libclang-rt-14-dev
  # making the Debian package (shlibdeps) and checking it
  dpkg-dev file binutils lintian desktop-file-utils
)
# The packages the installed programs use at run time without linking them.
while read -r p; do
  [ -n "$p" ] && packages+=("$p")
done < <(grep -v '^#' "$(dirname "$0")/../packaging/runtime-packages.txt")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
