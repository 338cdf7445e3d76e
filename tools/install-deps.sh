#!/usr/bin/env bash
# Installs the Debian packages the build and the program need, and only those missing: with
# apt-get as root, else through sudo; without either it names what to install.
#   --tests  also the packages only the tests use (./test.sh and make test pass it)
# Other packages named on the command line are added (the fuzzers' clang, for instance).
# When another apt-get or dpkg holds the package lock, it waits for it (up to 10 minutes).
set -euo pipefail

# `file` is for CPack, which builds the Debian package with it (make package). Qt Charts draws
# the sensor plot; its CMake files need Qt OpenGL's, which Debian 12 packs apart and
# qt6-charts-dev does not pull in.
packages=(cmake ninja-build g++ make qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core
          qt6-svg-dev qt6-charts-dev libqt6opengl6-dev dpkg-dev file)
# The tests check the desktop entry, read the user guide back and run lintian on the package;
# they serve a pseudo-terminal on the loopback with ser2net, which they run themselves.
test_packages=(desktop-file-utils poppler-utils lintian ser2net)

if [[ ${1:-} == --tests ]]; then
    packages+=("${test_packages[@]}")
    shift
fi
packages+=("$@")

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
apt_get=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive LC_ALL=C apt-get -o DPkg::Lock::Timeout=600)
# apt-get waits for dpkg's lock, but update does not wait for the package lists' own: try
# again while another apt-get holds them.
for ((waited = 0; ; waited += 5)); do
    if errors=$("${apt_get[@]}" update -qq 2>&1 >/dev/null); then
        break
    fi
    if [[ $errors != *"Could not get lock"* || $waited -ge 600 ]]; then
        echo "$errors" >&2
        exit 1
    fi
    [[ $waited -eq 0 ]] && echo "Waiting for another apt-get to let go of the package lists"
    sleep 5
done
[[ -n $errors ]] && echo "$errors" >&2

# ser2net's system service would serve the machine's serial ports as soon as it is installed,
# and again at every boot: a policy-rc.d refuses every service start during the install (one
# the machine already has stays, and decides), and the service is then disabled. The tests run
# ser2net in the foreground with their own configuration.
policy=/usr/sbin/policy-rc.d
new_ser2net=false
[[ " ${missing[*]} " == *" ser2net "* ]] && new_ser2net=true
if $new_ser2net && [[ ! -e $policy ]]; then
    "${as_root[@]}" sh -c "printf '#!/bin/sh\\n# tools/install-deps.sh: no service starts while it installs ser2net.\\nexit 101\\n' >$policy && chmod 755 $policy"
    trap '"${as_root[@]}" rm -f "$policy"' EXIT
fi
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
if $new_ser2net; then
    if command -v systemctl >/dev/null; then
        "${as_root[@]}" systemctl disable --quiet ser2net.service 2>/dev/null || true
    fi
    if command -v update-rc.d >/dev/null; then
        "${as_root[@]}" update-rc.d ser2net disable >/dev/null 2>&1 || true
    fi
fi
