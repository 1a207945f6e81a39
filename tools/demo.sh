#!/usr/bin/env bash
# Builds everything, starts a local world (tintbeacon-world on 127.0.0.1:6670)
# in the background and runs the bot in ./demo with its configuration written
# beforehand, so that nothing is asked. The world stops when the bot stops.
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

world_pid=""
stop_world() {
  if [ -n "$world_pid" ]; then
    kill "$world_pid" 2>/dev/null || true
    wait "$world_pid" 2>/dev/null || true
  fi
}
trap stop_world EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$root/build/tintbeacon-world" --listen 127.0.0.1:6670 --citizen 1:demo \
  >"$demo/world.out" 2>"$demo/world.log" &
world_pid=$!
for _ in $(seq 100); do
  grep -q listening "$demo/world.out" 2>/dev/null && break
  if ! kill -0 "$world_pid" 2>/dev/null; then
    echo "The world server did not start:" >&2
    cat "$demo/world.log" >&2
    exit 1
  fi
  sleep 0.05
done
cat "$demo/world.out"

echo "Bot console (Ctrl-C stops it and the world); its files are in $demo, the world's log in $demo/world.log"
"$root/build/tintbeacon"
