# A private PulseAudio server for the real-audio tests: a null sink whose monitor is the default
# source, so whatever is played comes straight back as the recording. Source this file, then call
# mervane_pulse_start; it exports the environment that routes PortAudio (through ALSA) to the
# server and stops the server when the shell exits. Returns nonzero when no server could be
# started; the real-audio tests then report themselves skipped (or fail when CI=true).

mervane_pulse_stop() {
  if [ -n "${MERVANE_PULSE_PID:-}" ]; then
    kill -TERM "$MERVANE_PULSE_PID" 2>/dev/null || true
    wait "$MERVANE_PULSE_PID" 2>/dev/null || true
    MERVANE_PULSE_PID=
  fi
  if [ -n "${MERVANE_PULSE_DIR:-}" ]; then
    rm -rf "$MERVANE_PULSE_DIR"
    MERVANE_PULSE_DIR=
  fi
}

mervane_pulse_write_config() {
  local dir=$1
  cat >"$dir/server.pa" <<CONFIG
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=mervane_loop rate=44100 channels=2
load-module module-null-sink sink_name=mervane_drain rate=44100 channels=2
load-module module-loopback source=mervane_loop.monitor sink=mervane_drain latency_msec=10
set-default-sink mervane_loop
set-default-source mervane_loop.monitor
CONFIG
  cat >"$dir/asoundrc" <<CONFIG
pcm.!default { type pulse }
ctl.!default { type pulse }
CONFIG
}

mervane_pulse_start() {
  if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "mervane: pulseaudio or pactl is missing: no real-audio test server" >&2
    return 1
  fi
  MERVANE_PULSE_DIR=$(mktemp -d /tmp/mervane-pulse.XXXXXX)
  chmod 0700 "$MERVANE_PULSE_DIR"
  mervane_pulse_write_config "$MERVANE_PULSE_DIR"
  export XDG_RUNTIME_DIR=$MERVANE_PULSE_DIR
  export PULSE_SERVER=unix:$MERVANE_PULSE_DIR/native
  export ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:$MERVANE_PULSE_DIR/asoundrc
  # The server keeps its state and cookie under HOME; a private one keeps runs apart.
  HOME=$MERVANE_PULSE_DIR pulseaudio --daemonize=no -n --file="$MERVANE_PULSE_DIR/server.pa" \
    --exit-idle-time=-1 --disallow-exit --disable-shm=yes --use-pid-file=no \
    --high-priority=no --realtime=no --log-target=file:"$MERVANE_PULSE_DIR/server.log" \
    </dev/null >/dev/null 2>&1 &
  MERVANE_PULSE_PID=$!
  trap mervane_pulse_stop EXIT
  local tries
  for tries in $(seq 50); do
    if pactl info >/dev/null 2>&1; then break; fi
    if ! kill -0 "$MERVANE_PULSE_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "mervane: the PulseAudio test server did not start:" >&2
    tail -n 5 "$MERVANE_PULSE_DIR/server.log" >&2 2>/dev/null || true
    mervane_pulse_stop
    unset PULSE_SERVER ALSA_CONFIG_PATH
    return 1
  fi
  # A fresh server delivers the first recording about a second late, which a test would take for
  # a stalled device: record here until a tenth of a second has come through (3 s at most).
  if command -v parecord >/dev/null; then
    timeout 3 parecord --raw --device=mervane_loop.monitor 2>/dev/null | head -c 17640 >/dev/null ||
      true
  fi
  export MERVANE_PULSE_READY=1
  return 0
}
