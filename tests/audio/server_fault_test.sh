#!/usr/bin/env bash
# A sound server that dies (SIGKILL) or freezes (SIGSTOP) while mervane-cli measures through it:
# every measuring command ends within 5 s of the fault with exit code 1 and one line on stderr,
# and the pings finished before the fault are on stdout. Each case gets a private PulseAudio
# loopback server of its own (scripts/pulse-test-server.sh), so the server of the other
# real-audio tests is never touched.
# usage: server_fault_test.sh PATH/TO/mervane-cli
set -u
cli=$1
# The command line reads these; the cases here say everything on the command line.
unset MERVANE_ROOM MERVANE_AUDIO
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/pulse-test-server.sh"
limit_ms=5000
failures=0
# Under the leak checker, only a real finding may add to the one line on stderr.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Milliseconds since the epoch.
now_ms() {
  local t=${EPOCHREALTIME/./}
  echo $((t / 1000))
}

# run_case SIGNAL WAIT_FOR COMMAND...: WAIT_FOR is a pattern in stdout that marks the moment to
# strike (or a number of seconds to wait).
run_case() {
  local signal=$1 wait_for=$2
  shift 2
  if ! mervane_pulse_start >/dev/null 2>&1; then
    [ "${CI:-}" = true ] && fail "no PulseAudio test server for $*" && return
    echo "skipped: no PulseAudio test server"
    exit 77
  fi
  local dir
  dir=$(mktemp -d)
  "$cli" --backend portaudio "$@" >"$dir/out" 2>"$dir/err" &
  local pid=$!
  local waited=0
  if [[ $wait_for =~ ^[0-9.]+$ ]]; then
    sleep "$wait_for"
  else
    until grep -q "$wait_for" "$dir/out" 2>/dev/null || [ $waited -ge 200 ]; do
      sleep 0.05
      waited=$((waited + 1))
    done
  fi
  # A run that is over already tests nothing: say so rather than blame the fault.
  kill -0 "$pid" 2>/dev/null || fail "$signal $*: ended before the fault: $(cat "$dir/err")"
  local struck
  struck=$(now_ms)
  kill "-$signal" "$MERVANE_PULSE_PID"
  local ticks=0
  while kill -0 "$pid" 2>/dev/null && [ $ticks -lt 600 ]; do
    sleep 0.05
    ticks=$((ticks + 1))
  done
  local ended
  ended=$(now_ms)
  kill -KILL "$pid" 2>/dev/null
  wait "$pid"
  local code=$?
  local took=$((ended - struck))
  local lines
  lines=$(wc -l <"$dir/err")
  echo "$signal $*: exit $code after $took ms: $(cat "$dir/err")"
  [ "$code" -eq 1 ] || fail "$signal $*: exit code $code, not 1"
  [ "$took" -le "$limit_ms" ] || fail "$signal $*: took $took ms after the fault"
  [ "$lines" -eq 1 ] || fail "$signal $*: $lines lines on stderr: $(cat "$dir/err")"
  if grep -q "failed in 'src/" "$dir/err"; then fail "$signal $*: PortAudio's diagnostics shown"; fi
  if [ "$1" = ping ] && ! grep -q '^ping 2: ' "$dir/out"; then
    fail "$signal $*: the pings before the fault were not printed"
  fi
  kill -CONT "$MERVANE_PULSE_PID" 2>/dev/null
  mervane_pulse_stop
  rm -rf "$dir"
}

for signal in KILL STOP; do
  run_case "$signal" '^ping 2: ' ping --count 50
  run_case "$signal" 3 sweep --columns 100
  # The search's ten measurements take about 3 s and print nothing until the end.
  run_case "$signal" 1.5 search-offset
done
[ "$failures" -eq 0 ] && echo "all server faults ended in time" && exit 0
exit 1
