#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing
# (as root directly, otherwise through sudo).
#   tools/install-deps.sh [--fuzz] [--browser] [--windows] [--package]
# --fuzz adds clang and its runtime libraries (libFuzzer, the sanitizers),
# which only tools/fuzz.sh needs.
# --browser adds what the live map's browser test needs: Debian's chromium,
# and Node.js with npm unless a node is already installed.
# --windows adds the Windows cross build: Debian's MinGW-w64 (posix-thread
# compilers), GoogleTest's source to build with them, and Wine to run what
# is built.
# --package adds what making and checking the Debian package needs: dpkg-dev
# and file (the package's library dependencies), lintian, systemd (its
# systemd-analyze checks the units) and logrotate (to read the rotation rule).
set -euo pipefail
packages=(g++ cmake make libreadline-dev libgtest-dev libgmock-dev libbenchmark-dev libmicrohttpd-dev libsystemd-dev)
for option in "$@"; do
  case "$option" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --browser)
      packages+=(chromium)
      command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
      ;;
    --windows) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64) ;;
    --package) packages+=(dpkg-dev file lintian systemd logrotate) ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done
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
