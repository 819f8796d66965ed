#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, once, when missing.
set -euo pipefail

packages=(
  g++ make cmake pkg-config
  qt6-base-dev libusb-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
  umockdev libumockdev-dev
  dpkg-dev file desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
