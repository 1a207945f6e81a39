#!/usr/bin/env bash
# Builds everything and runs the bot in ./demo with its configuration written
# beforehand, so that nothing is asked.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j2 >/dev/null

demo="$root/demo"
mkdir -p "$demo"
cd "$demo"
[ -f address.txt ] || printf '127.0.0.1\n6670\n' >address.txt
[ -f home.txt ] || printf 'welcome\n0N 0W\n' >home.txt
[ -f account.txt ] || printf '1\ndemo\nyes\n0.4\n' >account.txt

echo "Bot console (Ctrl-C stops it); its files are in $demo"
exec "$root/build/tintbeacon"
