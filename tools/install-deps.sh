#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, and only those missing;
# packages named on the command line are added (the fuzzers' clang, for instance).
set -euo pipefail

packages=(cmake ninja-build g++ make qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core "$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
