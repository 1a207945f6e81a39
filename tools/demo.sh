#!/usr/bin/env bash
# The local demo: builds the three programs, starts a world on 127.0.0.1:6670
# (TINTBEACON_DEMO_PORT sets another port) with its live map on a free port
# (TINTBEACON_DEMO_MAP_PORT sets one), a small simulated crowd and the
# bot in ./demo (its configuration written beforehand, so nothing is asked),
# and shows the bot's console. Citizen 2 is kept free for the person who joins.
# Ctrl-C stops everything; chat.txt, the users' settings, the logs and the
# crowd's report stay in ./demo. One demo runs per clone: a second one started
# beside it stops before it builds anything or touches ./demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# The lock is this script itself, a file the demo never rewrites, held for as
# long as the script or a program it started runs (they inherit it).
exec 9<"$root/tools/demo.sh"
if ! flock --nonblock 9; then
  echo "A demo of this clone already runs (it holds the lock on tools/demo.sh); stop it with" >&2
  echo "Ctrl-C in its terminal first. Nothing was built and $root/demo was not touched." >&2
  exit 1
fi
port="${TINTBEACON_DEMO_PORT:-6670}"
map_port="${TINTBEACON_DEMO_MAP_PORT:-0}"  # the live map's port; 0 picks a free one
build="$root/build"
guest_citizen=2
guest_password=join

echo "Building the bot, the world server and the avatar client (the first time takes a minute or two)..."
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tintbeacon tintbeacon-world tintbeacon-avatar >/dev/null

demo="$root/demo"
mkdir -p "$demo"
cd "$demo"
printf '127.0.0.1\n%s\n' "$port" >address.txt
[ -f home.txt ] || printf 'welcome\n0N 0W\n' >home.txt
[ -f account.txt ] || printf '1\ndemo\nyes\n0.4\n' >account.txt

world_pid="" crowd_pid="" bot_pid=""
# Stops a process and waits for it to end (at most about five seconds, then
# it is killed).
stop() {
  local pid="$1"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
stop_all() {
  trap "" INT TERM  # a second Ctrl-C must not cut the clean-up short
  # The crowd first, so that it reports while the world still runs.
  stop "$crowd_pid"
  stop "$bot_pid"
  stop "$world_pid"
  [ -n "$world_pid" ] || return 0
  echo
  if [ -n "$crowd_pid" ] && [ -s crowd-report.txt ]; then
    echo "The crowd's report ($demo/crowd-report.txt):"
    sed 's/^/    /' crowd-report.txt
  fi
  echo "Stopped. The bot's log is $demo/chat.txt, users' settings $demo/personal_chat_settings.txt,"
  echo "the world's log $demo/world.log and the crowd's $demo/crowd.log."
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Each program runs in a session of its own, so that Ctrl-C reaches only this
# script, which stops them in order.
citizens=(--citizen 1:demo:bot --citizen "$guest_citizen:$guest_password")
for c in $(seq 100 104); do citizens+=(--citizen "$c:crowd"); done
# Fresh files for the ready line and the report: nothing of an earlier run
# can be read as this one's.
rm -f world.ready crowd-report.txt
setsid "$build/tintbeacon-world" --listen "127.0.0.1:$port" --http "127.0.0.1:$map_port" \
  "${citizens[@]}" --exempt 127.0.0.1 >world.ready 2>world.log &
world_pid=$!
ready=""
for _ in $(seq 100); do
  ready="$(grep -m1 '^tintbeacon-world map on ' world.ready 2>/dev/null || true)"
  [ -n "$ready" ] && break
  kill -0 "$world_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$ready" ] || ! kill -0 "$world_pid" 2>/dev/null; then
  echo "The world server did not start on 127.0.0.1:$port (another port: TINTBEACON_DEMO_PORT=6671 $0):" >&2
  cat world.log >&2
  stop "$world_pid"
  world_pid=""
  exit 1
fi

map_url="${ready#tintbeacon-world map on }"

setsid "$build/tintbeacon-avatar" --crowd 24 --server "$port" --rate 1 --moves 0.5 \
  --seconds 86400 --commanders 5 --citizen-base 100 --password crowd \
  >crowd-report.txt 2>crowd.log &
crowd_pid=$!

cat <<TEXT
A world runs on 127.0.0.1:$port with 24 simulated avatars; the bot's console follows.
Join it yourself from another terminal, as citizen $guest_citizen (kept free for you; the bot's
commands !help, !color and !global answer citizens only):

    $build/tintbeacon-avatar --server $port --citizen $guest_citizen --password $guest_password --name You --at "60N 60W"

Watch the relay on the live map in a browser: $map_url

Lines you type are said; /help lists the client's commands, /who who hears you.
Try "!help", then "!color DeepPink": avatars more than 20000 units (20 in the
coordinates) away from you get your lines from the bot in that color.
Ctrl-C stops everything.

TEXT
setsid "$build/tintbeacon" </dev/null &
bot_pid=$!
wait "$bot_pid"
