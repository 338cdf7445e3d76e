#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine (make included), builds, and runs every
# test, then again built with the sanitizers: make test, for a machine that may not have
# make yet.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh --tests
exec make test "$@"
