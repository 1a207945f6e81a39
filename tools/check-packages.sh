#!/usr/bin/env bash
# Checks the packages CPack made, as an operator meets them.
#   tools/check-packages.sh deb BUILD_DIR
# lintian (no error, no warning), an install with apt-get, the installed
# programs' --version, systemd-analyze verify on the installed units, the user
# and directory the package makes, the rotation rule as logrotate reads it,
# the units of a cmake --install under another prefix, and a removal that
# leaves /var/lib/tintbeacon. Installs and removes the package: run as root
# (CI), with tools/install-deps.sh --package done.
#   tools/check-packages.sh zip BUILD_DIR
# The Windows zip unpacked: its files, its README in CR LF, and its programs'
# --version under Wine (in a Wine prefix of its own under /tmp, removed
# afterwards), with tools/install-deps.sh --windows done.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?deb or zip}
build=${2:?the build directory}
programs=(tintbeacon tintbeacon-world tintbeacon-avatar)
version=$(sed -n 's/^project(tintbeacon VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
scratch=$(mktemp -d /tmp/tintbeacon-package.XXXXXX)

fail() {
  echo "check-packages.sh: $*" >&2
  exit 1
}

# Each program answers --version with its name and the project's version.
check_versions() {
  local run=("$@") program answer
  for program in "${programs[@]}"; do
    answer=$("${run[@]/PROGRAM/$program}" --version | tr -d '\r')
    [ "$answer" = "$program $version" ] || fail "$program --version said \"$answer\""
    echo "$answer"
  done
}

check_deb() {
  local deb
  deb=$(realpath "$build/tintbeacon_${version}_amd64.deb")
  lintian --fail-on error,warning "$deb"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y "$deb"
  check_versions /usr/bin/PROGRAM
  local units=(/usr/lib/systemd/system/tintbeacon.service
               /usr/lib/systemd/system/tintbeacon-world.service)
  systemd-analyze verify "${units[@]}"
  getent passwd tintbeacon >/dev/null || fail "no user tintbeacon"
  [ "$(stat -c '%U:%G %a' /var/lib/tintbeacon)" = "tintbeacon:tintbeacon 750" ] ||
    fail "/var/lib/tintbeacon is $(stat -c '%U:%G %a' /var/lib/tintbeacon)"
  # Read whole before it is searched: grep -q stops at the first match, and
  # logrotate still writing then dies of SIGPIPE, which pipefail would count.
  local rotation
  rotation=$(logrotate --debug /etc/logrotate.d/tintbeacon 2>&1) || fail "logrotate refused the rule: $rotation"
  grep -q 'rotating pattern: /var/lib/tintbeacon/chat.txt' <<<"$rotation" ||
    fail "logrotate does not read the rule: $rotation"
  # The same units installed elsewhere name that place.
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  grep -qx "ExecStart=$scratch/prefix/bin/tintbeacon" "$scratch/prefix/lib/systemd/system/tintbeacon.service" ||
    fail "the unit under --prefix does not run the program installed there"
  systemd-analyze verify "$scratch"/prefix/lib/systemd/system/*.service
  apt-get remove -y tintbeacon
  [ ! -e /usr/bin/tintbeacon ] || fail "the removal left /usr/bin/tintbeacon"
  [ -d /var/lib/tintbeacon ] || fail "the removal took /var/lib/tintbeacon"
  echo "check-packages.sh: the Debian package installs, runs, verifies and is removed cleanly"
}

check_zip() {
  local zip="$build/tintbeacon-${version}-windows-x86_64.zip" folder
  [ -f "$zip" ] || fail "no $zip"
  (cd "$scratch" && cmake -E tar xf "$(realpath "$OLDPWD/$zip")")
  folder="$scratch/tintbeacon-${version}-windows-x86_64"
  local listed
  listed=$(cd "$folder" && find . -type f | sort | tr '\n' ' ')
  [ "$listed" = "./README.txt ./tintbeacon-avatar.exe ./tintbeacon-world.exe ./tintbeacon.exe " ] ||
    fail "the zip holds $listed"
  # Every line of the README ends in CR LF.
  [ "$(grep -c $'\r$' "$folder/README.txt")" = "$(wc -l <"$folder/README.txt")" ] ||
    fail "README.txt has lines without CR LF"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$scratch/wine"
  mkdir "$WINEPREFIX"
  wineserver -p
  wine cmd /c exit 0 >/dev/null 2>&1 || true  # sets the prefix up
  check_versions wine "$folder/PROGRAM.exe"
  echo "check-packages.sh: the Windows zip unpacks and its programs run under Wine"
}

cleanup() {
  # A persistent wineserver would stay behind, spinning.
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
case "$kind" in
  deb) check_deb ;;
  zip) check_zip ;;
  *) fail "unknown kind $kind (deb or zip)" ;;
esac
