#!/usr/bin/env bash
# Kill and restart campaigns against the real programs, with a summary table.
#   bench/robustness.sh [BOT_KILLS [WORLD_RESTARTS [CROWD [BUILD_DIR]]]]
# defaults: 200 kills, 30 restarts, a crowd of 50, build/.
#
# 1. The bot is started BOT_KILLS times and killed with SIGKILL at a random
#    moment in its first KILL_WINDOW_MS (default 300) milliseconds, while a
#    citizen avatar keeps sending it "!color R G B" commands (each one a save
#    of personal_chat_settings.txt). After each kill the bot's files must be
#    whole: the configuration files as written, the settings file absent or
#    holding one of the colors sent, chat.txt ending with a complete line.
# 2. With the bot and a crowd of CROWD avatars in the world, the world is
#    killed with SIGKILL and started again on the same port WORLD_RESTARTS
#    times; each time the bot must report its connection restored within
#    RECONNECT_LIMIT_S (default 15) seconds. Its time to come back is counted
#    from the kill.
# The exit status is 1 when any file was broken or the bot did not come back.
set -euo pipefail
bot_kills="${1:-200}"
world_restarts="${2:-30}"
crowd="${3:-50}"
build="$(cd "${4:-build}" && pwd)"
kill_window_ms="${KILL_WINDOW_MS:-300}"
reconnect_limit_s="${RECONNECT_LIMIT_S:-15}"

dir="$(mktemp -d)"
world_pid=""
bot_pid=""
commander_pid=""
crowd_pid=""
cleanup() {
  exec 2>/dev/null  # no job notices for the processes killed here
  for pid in "$bot_pid" "$commander_pid" "$crowd_pid" "$world_pid"; do
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

# The world's options. The commander says many lines a second: switch off a
# chat flood limit where the world has one.
world_options=(--citizen 1:robust:bot --citizen 100:commander --exempt 127.0.0.1)
usage="$("$build/tintbeacon-world" --help)"
if [[ "$usage" == *--chat-rate* ]]; then world_options+=(--chat-rate 0); fi
for c in $(seq 200 209); do world_options+=(--citizen "$c:crowd"); done

now_ms() { date +%s%3N; }

# Starts the world on the port (0: a free one, then remembered) and waits
# for its ready line.
port=0
start_world() {
  : >"$dir/world.out"
  "$build/tintbeacon-world" --listen "127.0.0.1:$port" "${world_options[@]}" \
    >"$dir/world.out" 2>>"$dir/world.err" &
  world_pid=$!
  for _ in $(seq 500); do
    if grep -q listening "$dir/world.out"; then
      port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/world.out")
      return 0
    fi
    kill -0 "$world_pid" 2>/dev/null || break
    sleep 0.01
  done
  echo "robustness: the world did not start:" >&2
  cat "$dir/world.err" >&2
  exit 1
}

start_bot() {
  (cd "$dir/bot" && LC_ALL=C.UTF-8 LANG=C.UTF-8 exec "$build/tintbeacon" </dev/null \
    >>"$dir/bot.out" 2>>"$dir/bot.err") &
  bot_pid=$!
}

stop_bot() {
  kill -9 "$bot_pid" 2>/dev/null || true
  wait "$bot_pid" 2>/dev/null || true
  bot_pid=""
}

# The bot's configuration, as the operator would have left it.
address_content() { printf '127.0.0.1\n%s\n' "$port"; }
home_content() { printf 'welcome\n0N 0W\n'; }
account_content() { printf '1\nrobust\nyes\n0.0\n'; }
write_bot_files() {
  address_content >"$dir/bot/address.txt"
  home_content >"$dir/bot/home.txt"
  account_content >"$dir/bot/account.txt"
}

# The colors the commander sends, and the settings file each one leaves.
colors=("10 20 30" "200 0 0" "0 0 200" "40 80 120")
settings_for() { printf '100\n0\n%s\n' "${1// /$'\n'}"; }

# Prints what is broken among the bot's files (nothing when all are whole).
broken_files() {
  local file
  for file in address home account; do
    if ! cmp -s <("${file}_content") "$dir/bot/$file.txt"; then echo "$file.txt"; fi
  done
  local settings="$dir/bot/personal_chat_settings.txt" whole=0 color
  if [ -e "$settings" ]; then
    for color in "${colors[@]}"; do
      cmp -s <(settings_for "$color") "$settings" && whole=1
    done
    [ "$whole" -eq 1 ] || echo personal_chat_settings.txt
  fi
  local log="$dir/bot/chat.txt"
  if [ -s "$log" ] && [ "$(tail -c 1 "$log" | od -An -tx1 | tr -d ' ')" != 0a ]; then
    echo chat.txt
  fi
}

# Campaign 1: the bot killed during saves.
mkdir -p "$dir/bot"
start_world
write_bot_files
commands() {
  while :; do
    for color in "${colors[@]}"; do
      echo "!color $color"
      echo "/wait 5"
    done
  done
}
commands | "$build/tintbeacon-avatar" --script --server "$port" --name Commander \
  --citizen 100 --password commander --at "0N 0W" >/dev/null 2>>"$dir/commander.err" &
commander_pid=$!

kills_whole=0
kills_broken=0
settings_changes=0  # kills after which the settings file differed from before
previous_settings=""
for i in $(seq "$bot_kills"); do
  start_bot
  delay_ms=$((RANDOM % kill_window_ms))
  sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
  stop_bot
  broken="$(broken_files)"
  if [ -z "$broken" ]; then
    kills_whole=$((kills_whole + 1))
    settings="$(cat "$dir/bot/personal_chat_settings.txt" 2>/dev/null || true)"
    [ "$settings" != "$previous_settings" ] && settings_changes=$((settings_changes + 1))
    previous_settings="$settings"
  else
    kills_broken=$((kills_broken + 1))
    echo "robustness: kill $i after ${delay_ms} ms left broken:" $broken >&2
    write_bot_files
    rm -f "$dir/bot/personal_chat_settings.txt"
  fi
done
kill -9 "$commander_pid" 2>/dev/null || true
wait "$commander_pid" 2>/dev/null || true
commander_pid=""

# Campaign 2: the world killed and restarted under a crowd. The crowd ends
# when it loses the world, so it is started again after each restart.
start_crowd() {
  "$build/tintbeacon-avatar" --crowd "$crowd" --server "$port" --rate 20 --moves 2 \
    --seconds 86400 --commanders 10 --citizen-base 200 --password crowd \
    >>"$dir/crowd.out" 2>>"$dir/crowd.err" &
  crowd_pid=$!
}
restored_count() { grep -c "Связь с миром восстановлена" "$dir/bot.err" || true; }

: >"$dir/bot.out"
: >"$dir/bot.err"
start_bot
for _ in $(seq 500); do
  grep -q "Успешно" "$dir/bot.out" 2>/dev/null && break
  sleep 0.01
done
start_crowd
sleep 1
times=()
restarts_back=0
restarts_lost=0
for i in $(seq "$world_restarts"); do
  before=$(restored_count)
  killed_at=$(now_ms)
  kill -9 "$world_pid"
  wait "$world_pid" 2>/dev/null || true
  wait "$crowd_pid" 2>/dev/null || true
  start_world
  back=0
  while [ $(($(now_ms) - killed_at)) -lt $((reconnect_limit_s * 1000)) ]; do
    if [ "$(restored_count)" -gt "$before" ]; then
      back=1
      break
    fi
    sleep 0.01
  done
  if [ "$back" -eq 1 ] && kill -0 "$bot_pid" 2>/dev/null; then
    restarts_back=$((restarts_back + 1))
    times+=($(($(now_ms) - killed_at)))
  else
    restarts_lost=$((restarts_lost + 1))
    echo "robustness: restart $i: the bot did not come back within $reconnect_limit_s s" >&2
  fi
  start_crowd
  sleep 1
done
stop_bot

ms_to_s() { awk -v ms="$1" 'BEGIN { printf "%.2f s", ms / 1000 }'; }
median="-"
max="-"
if [ ${#times[@]} -gt 0 ]; then
  sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  median=$(ms_to_s "${sorted[$(((${#sorted[@]} - 1) / 2))]}")
  max=$(ms_to_s "${sorted[-1]}")
fi
printf '%-32s %6s %6s %7s %12s %10s\n' campaign runs ok failed "back median" "back max"
printf '%-32s %6s %6s %7s %12s %10s\n' "bot kill -9 (files whole)" "$bot_kills" "$kills_whole" \
  "$kills_broken" - -
printf '%-32s %6s %6s %7s %12s %10s\n' "world kill -9, crowd of $crowd" "$world_restarts" \
  "$restarts_back" "$restarts_lost" "$median" "$max"
echo "the settings file had changed after $settings_changes of the $bot_kills kills"
[ "$kills_broken" -eq 0 ] && [ "$restarts_lost" -eq 0 ]
