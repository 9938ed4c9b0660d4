#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages), only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build ccache mold
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libsqlite3-dev libzip-dev
  xvfb xauth
  clang libclang-rt-14-dev
  help2man desktop-file-utils appstream dpkg-dev file python3-jsonschema
  g++-mingw-w64-x86-64-posix wine64 googletest
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
