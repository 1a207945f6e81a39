#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing
# (as root directly, otherwise through sudo).
#   --browser  also what the live map's browser test needs: Debian's chromium,
#              and Node.js with npm unless a node is already installed.
set -euo pipefail
packages=(g++ cmake make libedit-dev libgtest-dev libgmock-dev libbenchmark-dev libmicrohttpd-dev)
if [ "${1:-}" = "--browser" ]; then
  packages+=(chromium)
  command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
