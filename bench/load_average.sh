# Sourced by the shell benchmarks: the 1-minute load average before and after
# their runs, flagged above 1.0 (figures from a busy machine are not to be
# trusted; the load after includes the benchmark's own work).
#   load_note before|after
load_note() {
  local fields one
  fields="$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)"
  one="${fields%% *}"
  if awk -v l="$one" 'BEGIN { exit !(l + 0 > 1.0) }'; then
    echo "load average $1: $fields **above 1.0**"
  else
    echo "load average $1: $fields"
  fi
}
