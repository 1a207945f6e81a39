#!/usr/bin/env bash
# The world server's CPU time and peak memory under a crowd with the bot
# relaying: starts the world (chat limit off, on a free port) and the bot in a
# temporary directory, runs the avatar client's crowd against them, and prints
# the world's user+system time over the crowd's run (joining included), the
# peak resident memory of world and bot, and the crowd's own report.
#   bench/world_crowd_cpu.sh [BUILD_DIR] [AVATARS] [LINES_PER_S] [SECONDS]
set -euo pipefail
. "$(dirname "$0")/load_average.sh"
build="$(cd "${1:-build}" && pwd)"
avatars="${2:-1000}"
rate="${3:-5}"
seconds="${4:-20}"
dir="$(mktemp -d)"
cleanup() {
  [ -n "${bot:-}" ] && kill "$bot" 2>/dev/null && wait "$bot" 2>/dev/null || true
  [ -n "${world:-}" ] && kill "$world" 2>/dev/null && wait "$world" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
"$build/tintbeacon-world" --listen 127.0.0.1:0 --citizen 1:crowd:bot --exempt 127.0.0.1 --chat-rate 0 \
  >"$dir/world.out" 2>"$dir/world.err" &
world=$!
for _ in $(seq 50); do grep -q listening "$dir/world.out" && break; sleep 0.1; done
port="$(sed -n 's/^tintbeacon-world listening on .*:\([0-9]*\)$/\1/p' "$dir/world.out")"
[ -n "$port" ] || { echo "the world did not start:" >&2; cat "$dir/world.err" >&2; exit 1; }
printf '127.0.0.1\n%s\n' "$port" >"$dir/address.txt"
printf 'welcome\n0N 0W\n' >"$dir/home.txt"
printf '1\ncrowd\nyes\n0.4\n' >"$dir/account.txt"
(cd "$dir" && exec "$build/tintbeacon" </dev/null >"$dir/bot.out" 2>"$dir/bot.err") &
bot=$!
for _ in $(seq 50); do grep -q "Успешно" "$dir/bot.out" 2>/dev/null && break; sleep 0.1; done
[ -e "/proc/$bot" ] || { echo "the bot did not start:" >&2; cat "$dir/bot.out" "$dir/bot.err" >&2; exit 1; }
ticks() { awk '{print $14 + $15}' "/proc/$world/stat"; }
peak() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)
load_note before
before=$(ticks)
"$build/tintbeacon-avatar" --crowd "$avatars" --server "$port" --rate "$rate" \
  --seconds "$seconds" >"$dir/crowd.out" 2>"$dir/crowd.err"
after=$(ticks)
echo "| avatars | lines/s | s | world CPU ms | world peak RSS kB | bot peak RSS kB |"
echo "|---|---|---|---|---|---|"
echo "| $avatars | $rate | $seconds | $(( (after - before) * 1000 / hz )) | $(peak "$world") | $(peak "$bot") |"
echo
cat "$dir/crowd.out"
echo
load_note after
echo "repeat: bench/world_crowd_cpu.sh ${1:-build} $avatars $rate $seconds"
