#!/usr/bin/env bash
# The local demo: builds everything, starts a world on 127.0.0.1:6670 with its
# live map (TINTBEACON_DEMO_MAP_PORT, default a free port), a small simulated
# crowd and the bot in ./demo (its configuration written beforehand, so
# nothing is asked), and shows the bot's console. Ctrl-C stops everything;
# chat.txt and the settings file stay in ./demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${TINTBEACON_DEMO_PORT:-6670}"
map_port="${TINTBEACON_DEMO_MAP_PORT:-0}"
build="$root/build"

echo "Building (the first time takes a few minutes)..."
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null

demo="$root/demo"
mkdir -p "$demo"
cd "$demo"
printf '127.0.0.1\n%s\n' "$port" >address.txt
[ -f home.txt ] || printf 'welcome\n0N 0W\n' >home.txt
[ -f account.txt ] || printf '1\ndemo\nyes\n0.4\n' >account.txt

pids=()
stop_all() {
  trap "" INT TERM  # a second Ctrl-C must not cut the clean-up short
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo
  echo "Stopped. The bot's log is $demo/chat.txt, users' settings $demo/personal_chat_settings.txt."
}
trap stop_all EXIT
trap 'exit 130' INT TERM

citizens=(--citizen 1:demo)
for c in $(seq 100 104); do citizens+=(--citizen "$c:crowd"); done
"$build/tintbeacon-world" --listen "127.0.0.1:$port" --http "127.0.0.1:$map_port" \
  "${citizens[@]}" >world.log 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  grep -q "map on" world.log 2>/dev/null && break
  if ! kill -0 "${pids[0]}" 2>/dev/null; then
    echo "The world server did not start:" >&2
    cat world.log >&2
    exit 1
  fi
  sleep 0.1
done

"$build/tintbeacon-avatar" --crowd 24 --server "$port" --rate 1 --moves 0.5 --seconds 86400 \
  --commanders 5 --citizen-base 100 --password crowd >crowd.log 2>&1 &
pids+=($!)

map_url="$(sed -n 's/.*map on //p' world.log | head -n 1)"
cat <<TEXT
A world runs on 127.0.0.1:$port with 24 simulated avatars; the bot's console follows.
Join it yourself from another terminal (lines you type are said; /help lists commands),
and watch the relay on the live map in a browser:

    $build/tintbeacon-avatar --server $port --name You --at "60N 60W"
    live map: $map_url

Avatars more than 20000 units (20 in the coordinates) away from a speaker get the
speaker's lines from the bot in color. Ctrl-C stops everything.

TEXT
"$build/tintbeacon" &
pids+=($!)
wait "${pids[2]}"
