#!/usr/bin/env bash
# Measures the CPU time a connected, idle bot uses: starts the world server and
# the bot in a temporary directory, lets it settle, then reads its user and
# system time from /proc over a window (default 10 s).
#   bench/idle_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
. "$(dirname "$0")/load_average.sh"
build="$(cd "${1:-build}" && pwd)"
window="${2:-10}"
dir="$(mktemp -d)"
cleanup() {
  [ -n "${bot:-}" ] && kill "$bot" 2>/dev/null || true
  [ -n "${world:-}" ] && kill "$world" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
"$build/tintbeacon-world" --listen 127.0.0.1:0 --citizen 1:idle:bot >"$dir/world.out" 2>"$dir/world.err" &
world=$!
printf 'welcome\n0N 0W\n' >"$dir/home.txt"
printf '1\nidle\nyes\n0.4\n' >"$dir/account.txt"
for _ in $(seq 50); do grep -q listening "$dir/world.out" && break; sleep 0.1; done
port="$(sed -n 's/^tintbeacon-world listening on .*:\([0-9]*\)$/\1/p' "$dir/world.out")"
[ -n "$port" ] || { echo "the world did not start:" >&2; cat "$dir/world.err" >&2; exit 1; }
printf '127.0.0.1\n%s\n' "$port" >"$dir/address.txt"
(cd "$dir" && exec "$build/tintbeacon" </dev/null >"$dir/bot.out" 2>"$dir/bot.err") &
bot=$!
for _ in $(seq 50); do grep -q "Успешно" "$dir/bot.out" 2>/dev/null && break; sleep 0.1; done
[ -e "/proc/$bot" ] || { echo "the bot did not start:" >&2; cat "$dir/bot.out" "$dir/bot.err" >&2; exit 1; }
ticks() { awk '{print $14 + $15}' "/proc/$bot/stat"; }
load_note before
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$window"
[ -e "/proc/$bot" ] || { echo "the bot ended:" >&2; cat "$dir/bot.out" "$dir/bot.err" >&2; exit 1; }
after=$(ticks)
awk -v t=$((after - before)) -v hz="$hz" -v s="$window" \
  'BEGIN { printf "idle bot: %d ticks (%.3f s CPU) in %d s = %.3f%% of one core\n", t, t / hz, s, 100 * t / hz / s }'
load_note after
echo "repeat: bench/idle_cpu.sh ${1:-build} $window"
