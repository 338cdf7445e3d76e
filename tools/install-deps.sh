#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, and only those
# missing: with apt-get as root, else through sudo; without either it names what to install.
# Packages named on the command line are added (the fuzzers' clang, for instance).
set -euo pipefail

packages=(cmake ninja-build g++ make qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core
          qt6-svg-dev dpkg-dev desktop-file-utils poppler-utils "$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    cat >&2 <<MESSAGE
These Debian packages are missing: ${missing[*]}
Installing them needs root, and sudo is not installed. Run this again as root, or have
root run:
    apt-get update && apt-get install --no-install-recommends ${missing[*]}
MESSAGE
    exit 1
fi

echo "Installing missing packages: ${missing[*]}"
# Through env, as sudo drops the caller's environment.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
