#!/usr/bin/env bash
# Plays one scripted session twice, once with the Linux programs and once
# with the Windows ones under Wine, and checks that the bot did the same in
# both: its standard output and error, every file it wrote and the console
# messages a distant avatar got. Windows files must end their lines in CR LF;
# they are compared with those ends made LF, and times are masked.
#   tools/compare-windows.sh [LINUX_BUILD [WINDOWS_BUILD [PORT]]]
# Needs both builds (README) and Wine; WINEPREFIX should be set as
# tools/windows-tests.sh sets it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux_build="$(realpath "${1:-$root/build}")"
windows_build="$(realpath "${2:-$root/build-windows}")"
port="${3:-6695}"  # and the next one
work="$(mktemp -d /tmp/tintbeacon-compare.XXXXXX)"
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true' EXIT
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# run SIDE PREFIX...: the session, with each program started as PREFIX program.
run() {
  local side="$1" ext="$2" bin="$3" port="$4"; shift 4
  local launch=("$@")
  local dir="$work/$side"
  mkdir -p "$dir/bot"
  printf '127.0.0.1\n%s\n' "$port" >"$dir/bot/address.txt"
  "${launch[@]}" "$bin/tintbeacon-world$ext" --listen "127.0.0.1:$port" \
    --citizen 1:owner:bot --citizen 2:speaker >"$dir/world.out" 2>"$dir/world.log" &
  local world=$!
  for _ in $(seq 100); do grep -q . "$dir/world.out" 2>/dev/null && break; sleep 0.1; done
  # The operator's answers: world, coordinates, citizen, password, colors, brightness.
  printf 'welcome\n0N 0W\n1\nowner\nyes\n0.4\n' >"$dir/answers.txt"
  (cd "$dir/bot" && exec "${launch[@]}" "$bin/tintbeacon$ext" <../answers.txt >../bot.out 2>../bot.err) &
  local bot=$!
  for _ in $(seq 100); do grep -q "logged in" "$dir/world.log" 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  (sleep 6) | "${launch[@]}" "$bin/tintbeacon-avatar$ext" --server "$port" --script \
    --name Watcher --at "60N 60W" >"$dir/watcher.json" 2>/dev/null &
  local watcher=$!
  sleep 1
  { sleep 0.5; printf '!color DeepPink\n'; sleep 0.5; printf 'привет, мир\n'; sleep 0.5
    printf '!help\n'; sleep 0.5; printf '!global off\n'; sleep 0.5; printf 'тихо\n'; sleep 1; } |
    "${launch[@]}" "$bin/tintbeacon-avatar$ext" --server "$port" --citizen 2 --password speaker \
      --name Говорун --at "1N 1W" --script >/dev/null 2>&1
  wait "$watcher" || true
  sleep 0.5
  kill -KILL "$bot" 2>/dev/null || true
  kill "$world" 2>/dev/null || true
  wait "$bot" "$world" 2>/dev/null || true
}

run linux "" "$linux_build" "$port" env
run windows ".exe" "$windows_build" $((port + 1)) wine

normal() {  # LF line ends; dates, times and the two runs' ports masked
  sed -e 's/\r$//' -e 's/[0-9][0-9]\.[0-9][0-9]\.[0-9]\{4\} [0-9:]*/DATE TIME/g' \
      -e "s/^\($port\|$((port + 1))\)\$/PORT/" "$1"
}
failures=0
for file in bot.out bot.err bot/address.txt bot/home.txt bot/account.txt \
            bot/personal_chat_settings.txt bot/chat.txt; do
  l="$work/linux/$file" w="$work/windows/$file"
  if [ ! -e "$l" ] || [ ! -e "$w" ]; then
    echo "  $file: missing"; failures=$((failures + 1)); continue
  fi
  if [[ "$file" == bot/* ]] && grep -q $'[^\r]$' "$w" 2>/dev/null; then
    echo "  $file: a Windows line without CR LF"; failures=$((failures + 1))
  fi
  if diff <(normal "$l") <(normal "$w") >"$work/diff" 2>&1; then
    echo "  $file: same ($(wc -l <"$l") lines)"
  else
    echo "  $file: DIFFERS"; sed 's/^/      /' "$work/diff" | head -20; failures=$((failures + 1))
  fi
done
consoles() { grep '"console' "$1" | sed -e 's/\r$//' || true; }
if diff <(consoles "$work/linux/watcher.json") <(consoles "$work/windows/watcher.json") >"$work/diff"; then
  echo "  console messages at the distant avatar: same ($(consoles "$work/linux/watcher.json" | wc -l))"
else
  echo "  console messages at the distant avatar: DIFFER"; sed 's/^/      /' "$work/diff" | head -20
  failures=$((failures + 1))
fi
echo "outputs kept in $work"
exit $((failures > 0))
