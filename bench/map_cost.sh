#!/usr/bin/env bash
# What the live map costs the world server: its CPU time (utime + stime from
# /proc) while a crowd of avatars talks through the bot, run after run:
#   plain     the world without --http
#   map       with --http, no page open
#   page      with one page reading the event stream (curl -N)
#   stuck     with one page that connects and never reads
# For the stuck page it also reports whether and when the world dropped it and
# the world's peak memory (VmHWM), against the run with no page.
#   bench/map_cost.sh [BUILD_DIR] [AVATARS] [SECONDS] [RATE] [RUNS]
# (defaults: build 1000 20 5 3). CPU is measured over SECONDS once every
# avatar has joined (the joins cost the same in every case and would drown
# the rest). The first three cases run RUNS times, in turn, and the median
# counts, since the machine may be shared. The stuck page runs once, at four
# times the rate, for 40 s: long enough for its socket to fill, after which
# 5 s without progress drop it (or its backlog passing the 1 MiB bound,
# whichever comes first). Build in Release for figures worth keeping:
#   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench -j2
set -euo pipefail
. "$(dirname "$0")/load_average.sh"
build="$(cd "${1:-build}" && pwd)"
avatars="${2:-1000}"
seconds="${3:-20}"
rate="${4:-5}"
runs="${5:-3}"
hz=$(getconf CLK_TCK)
dir="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
}

# Runs one case for the seconds given at the rate given; prints
# "CPU_PERCENT_OF_ONE_CORE STREAM_BYTES_PER_S VMHWM_KB DROPPED_AFTER_S".
run_case() {
  local mode="$1" length="$2" caseRate="$3" run="$dir/$1.$RANDOM"
  mkdir -p "$run"
  local http=()
  [ "$mode" = plain ] || http=(--http 127.0.0.1:0)
  "$build/tintbeacon-world" --listen 127.0.0.1:0 "${http[@]}" --citizen 1:demo:bot --exempt 127.0.0.1 \
    >"$run/world.out" 2>"$run/world.err" &
  local world=$!
  pids+=("$world")
  for _ in $(seq 100); do
    [ "$(wc -l 2>/dev/null <"$run/world.out" || echo 0)" -ge $([ "$mode" = plain ] && echo 1 || echo 2) ] && break
    sleep 0.05
  done
  local port url
  port=$(sed -n '1s/.*://p' "$run/world.out")
  url=$(sed -n '2s/.*map on //p' "$run/world.out")
  printf '127.0.0.1\n%s\n' "$port" >"$run/address.txt"
  printf 'welcome\n0N 0W\n' >"$run/home.txt"
  printf '1\ndemo\nyes\n0.4\n' >"$run/account.txt"
  (cd "$run" && exec "$build/tintbeacon" </dev/null >bot.out 2>bot.err) &
  pids+=($!)
  for _ in $(seq 100); do grep -q "citizen 1, bot" "$run/world.err" && break; sleep 0.05; done
  local reader=""
  if [ "$mode" = page ]; then
    curl -sN "${url}events" >"$run/stream" 2>/dev/null &
    reader=$!
    pids+=("$reader")
  elif [ "$mode" = stuck ]; then
    # Connects, asks for the stream, and never reads a byte of it.
    local mapPort="${url#http://127.0.0.1:}"
    bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"; printf "GET /events HTTP/1.1\r\nHost: x\r\n\r\n" >&3; exec sleep 3600' \
      _ "${mapPort%/}" &
    reader=$!
    pids+=("$reader")
  fi
  local before after started ended streamBefore=0 streamAfter=0
  "$build/tintbeacon-avatar" --crowd "$avatars" --server "$port" --rate "$caseRate" \
    --seconds $((length + 120)) >"$run/crowd.out" 2>&1 &
  local crowd=$!
  pids+=("$crowd")
  # The crowd says when its avatars have joined (the world's log sums up
  # logins past the first few).
  for _ in $(seq 1200); do
    grep -q "avatars joined" "$run/crowd.out" && break
    sleep 0.1
  done
  sleep 2
  [ -f "$run/stream" ] && streamBefore=$(wc -c <"$run/stream")
  before=$(awk '{print $14 + $15}' "/proc/$world/stat")
  started=$(date +%s.%N)
  sleep "$length"
  after=$(awk '{print $14 + $15}' "/proc/$world/stat")
  ended=$(date +%s.%N)
  [ -f "$run/stream" ] && streamAfter=$(wc -c <"$run/stream")
  local hwm bytes=$((streamAfter - streamBefore)) dropped=-
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$world/status")
  if grep -q "does not read its stream" "$run/world.err"; then
    local at
    at=$(grep -m1 "does not read its stream" "$run/world.err" | cut -d' ' -f1)
    dropped=$(awk -v a="$(date -d "$at" +%s.%N)" -v s="$started" 'BEGIN { printf "%.1f", a - s }')
  fi
  stop_all
  awk -v t=$((after - before)) -v hz="$hz" -v s="$started" -v e="$ended" -v b="$bytes" \
    -v h="$hwm" -v d="$dropped" 'BEGIN { printf "%.2f %.0f %s %s\n", 100 * t / hz / (e - s), b / (e - s), h, d }'
}

median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
least() { tr ' ' '\n' | sort -g | head -n 1; }

load_note before
echo "world server CPU with $avatars avatars saying $rate lines/s through the bot, $runs runs of $seconds s"
declare -A cpu stream hwm dropped all
for _ in $(seq "$runs"); do
  for mode in plain map page; do
    read -r c stream[$mode] hwm[$mode] dropped[$mode] < <(run_case "$mode" "$seconds" "$rate")
    all[$mode]="${all[$mode]:-} $c"
  done
done
declare -A low
for mode in plain map page; do
  cpu[$mode]=$(echo ${all[$mode]} | median)
  low[$mode]=$(echo ${all[$mode]} | least)
  echo "  $mode runs (CPU %):${all[$mode]}"
done
stuckSeconds=40
read -r cpu[stuck] stream[stuck] hwm[stuck] dropped[stuck] < <(run_case stuck "$stuckSeconds" $((rate * 4)))
printf '\n%-46s %6s %10s %7s %10s %12s %18s\n' case "CPU %" "vs plain" "least" "vs plain" "peak RSS" "stream"
for mode in plain map page stuck; do
  case $mode in
    plain) label="no map" ;;
    map) label="--http, no page" ;;
    page) label="--http, one page reading" ;;
    stuck) label="--http, one page never reading" ;;
  esac
  extra=$(awk -v a="${cpu[$mode]}" -v b="${cpu[plain]}" 'BEGIN { printf "%+.1f%%", (b > 0) ? 100 * (a - b) / b : 0 }')
  detail="-"
  [ "$mode" = page ] && detail="$(awk -v b="${stream[page]}" 'BEGIN { printf "%.1f KiB/s", b / 1024 }')"
  [ "$mode" = stuck ] && detail="dropped after ${dropped[stuck]} s"
  [ "$mode" = plain ] || [ "$mode" = map ] || [ "$mode" = page ] && label="$label (median of $runs)"
  lowExtra=-
  [ "$mode" = stuck ] || lowExtra=$(awk -v a="${low[$mode]}" -v b="${low[plain]}" 'BEGIN { printf "%+.1f%%", (b > 0) ? 100 * (a - b) / b : 0 }')
  [ "$mode" = stuck ] && label="$label (${stuckSeconds} s, rate $((rate * 4)))"
  printf '%-46s %6s %10s %7s %10s %9s KiB %18s\n' "$label" "${cpu[$mode]}" "$extra" "${low[$mode]:--}" "$lowExtra" "${hwm[$mode]}" "$detail"
done
echo
echo "CPU: the world server's utime + stime over $seconds s after every avatar joined, as a share of one core;"
echo "the median and the least of the runs (on a shared machine, others' load only adds)."
echo "The stuck page's case is not a CPU comparison: it talks four times as fast to fill the page's backlog."
load_note after
echo "repeat: bench/map_cost.sh ${1:-build} $avatars $seconds $rate $runs"
