# Shared by ./run and ./test: package installation and the build. Source it; do not run it.

MERVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages the program needs to build and run.
MERVANE_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libsndfile1-dev portaudio19-dev libfftw3-dev
  libasound2-plugins fonts-dejavu-core
)
# What the test suite needs on top: test frameworks, a PulseAudio server for the real-audio
# tests, an X server for screenshots, clang's sanitizer and fuzzer runtimes, what builds and
# checks the .deb (dpkg-shlibdeps, and `file`, which CPack runs on every binary before it;
# lintian and appstreamcli, which check-package runs on it), and
# the locale sources from which the locale tests make de_DE.UTF-8 with localedef.
MERVANE_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils xvfb xauth clang libclang-rt-dev
  dpkg-dev file desktop-file-utils locales lintian appstream
)

say() { printf 'mervane: %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whichever of the given Debian packages are missing; silent when none are.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq >/dev/null
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds into the given folder with the given extra CMake arguments.
build_tree() {
  local dir=$1
  shift
  cmake -S "$MERVANE_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j2 -- --quiet
}

# The plain test tree is what the README's hand build gives (`cmake -S . -B build/dev -G Ninja`:
# Release, the desktop program, tests and benchmarks), spelled out so that an older cache in the
# folder cannot change it, with warnings as errors on top.
MERVANE_TEST_TREE=$MERVANE_ROOT/build/test
MERVANE_TEST_ARGS=(
  -DCMAKE_BUILD_TYPE=Release -DMERVANE_GUI=ON -DMERVANE_TESTS=ON -DMERVANE_BENCH=ON
  -DMERVANE_SANITIZE=OFF -DMERVANE_FUZZ=OFF -DMERVANE_FFTW=ON -DMERVANE_WERROR=ON
)

# The sanitizer tree: one clang build with AddressSanitizer, UndefinedBehaviorSanitizer and the
# libFuzzer targets, serving both the sanitized test suite and the fuzzers.
MERVANE_SANITIZE_TREE=$MERVANE_ROOT/build/sanitize
# Line tables are all a sanitizer report needs, and build much faster than full debug info.
MERVANE_SANITIZE_ARGS=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG"
  -DMERVANE_SANITIZE=ON -DMERVANE_FUZZ=ON -DMERVANE_BENCH=OFF -DMERVANE_WERROR=ON -DMERVANE_PCH=ON
)
MERVANE_FUZZ_TARGETS=(load_file analyze_wav settings room cli_options session_json)

# The thread-sanitizer tree: clang with ThreadSanitizer, and only the tests whose code runs
# threads of ours: the correlation worker (engine), the back ends' callbacks and bounded calls
# (audio, real sound included), the window's ping worker with the sweeps, dialogs and replays around it (gui), the
# soak (its allocation count goes through the sanitizer's malloc hooks there, since the runtime
# owns operator new).
MERVANE_TSAN_TREE=$MERVANE_ROOT/build/tsan
MERVANE_TSAN_ARGS=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG"
  -DMERVANE_TSAN=ON -DMERVANE_BENCH=OFF -DMERVANE_WERROR=ON -DMERVANE_PCH=ON
)
# Each entry: a test binary of the tree, and the tests of it that run (a gtest filter).
# The engine's detector tables are left out: they repeat the same single-threaded search over
# hundreds of recordings (about 90 of the binary's 97 s under the checker), and the correlation
# threads they pass through are the correlation tests' subject, which run.
# The window's tests run all but the two that start the command-line program: ThreadSanitizer's
# runtime fails its own check when Qt's QProcess forks a multi-threaded process. The real-audio
# tests play through PortAudio into the private PulseAudio server (./test starts it); the server
# fault script is not among them, since it times the command-line program against limits made
# for a build without the checker's slowdown.
MERVANE_TSAN_TESTS=(
  "tests/engine/engine_tests -EchoDetector*:Media/PlantedEcho.*:Table/EchoAccuracy.*"
  "tests/engine/engine_exactness_tests *"
  "tests/audio/audio_tests *"
  "tests/audio/realaudio_tests *"
  "tests/app/app_soak_tests *"
  "tests/gui/gui_tests -SessionReplay.ARecordedRun*:SessionReplay.TheEnvironmentOrTheRemembered*"
  "tests/gui/gui_realaudio_tests *"
)
# Options for one binary's run besides the common ones. Qt, PortAudio and PulseAudio are not
# built with the checker: Qt's painter hands work to Qt's thread pool, and these libraries'
# mutexes, semaphores and ring buffers synchronise through futexes and atomics the checker cannot
# see, so the memory calls made inside them (malloc, free, memcpy) are not checked for the runs
# that use them. Every access our own code makes still is, and so are thread starts, joins and
# pthread locks: a deliberately racy counter between the ping worker and the window's thread is
# caught with this option.
declare -gA MERVANE_TSAN_OPTIONS_OF=(
  [realaudio_tests]="ignore_noninstrumented_modules=1"
  [gui_tests]="ignore_noninstrumented_modules=1"
  [gui_realaudio_tests]="ignore_noninstrumented_modules=1"
)
# The soak's pings under ThreadSanitizer: each is several times slower there, and the plain stage
# ran the full count already.
MERVANE_TSAN_SOAK_PINGS=800

# Builds the thread-sanitizer tree's test binaries, and only those.
build_tsan_tree() {
  local targets=() entry
  for entry in "${MERVANE_TSAN_TESTS[@]}"; do targets+=("$(basename "${entry%% *}")"); done
  cmake -S "$MERVANE_ROOT" -B "$MERVANE_TSAN_TREE" -G Ninja "${MERVANE_TSAN_ARGS[@]}" >/dev/null
  cmake --build "$MERVANE_TSAN_TREE" -j2 --target "${targets[@]}" -- --quiet
}

# Runs the thread-sanitizer tree's tests one binary after the other; the first data race (or any
# other finding) fails the stage with its two stacks. The suppressions name frames of third-party
# libraries only (tests/tsan.supp). Address-space randomisation is turned off for the runs: clang
# 14's runtime cannot map its shadow memory under the kernel's newer, wider randomisation
# ("unexpected memory mapping").
run_tsan_tests() {
  local entry
  say "ThreadSanitizer runs:"
  for entry in "${MERVANE_TSAN_TESTS[@]}"; do say "  ${entry%% *} --gtest_filter=${entry#* }"; done
  local binary filter started extra
  for entry in "${MERVANE_TSAN_TESTS[@]}"; do
    binary=$MERVANE_TSAN_TREE/${entry%% *}
    filter=${entry#* }
    extra=${MERVANE_TSAN_OPTIONS_OF[$(basename "$binary")]:-}
    started=$SECONDS
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$MERVANE_ROOT/tests/tsan.supp${extra:+:$extra}" \
      MERVANE_SOAK_PINGS=$MERVANE_TSAN_SOAK_PINGS QT_QPA_PLATFORM=offscreen \
      setarch "$(uname -m)" -R "$binary" --gtest_filter="$filter" --gtest_brief=1 ||
      { say "ThreadSanitizer: ${entry%% *} failed"; return 1; }
    say "ThreadSanitizer: ${entry%% *} passed in $((SECONDS - started)) s"
  done
}

# Every sanitizer finding ends the process that made it, with a stack; leaks are findings too.
# Tests that load ALSA's plugins set their own LSAN_OPTIONS (tests/audio/lsan.supp).
export_sanitizer_options() {
  export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export LSAN_OPTIONS=suppressions=$MERVANE_ROOT/tests/audio/lsan.supp:fast_unwind_on_malloc=0
}

# Runs one fuzz target of the sanitizer tree for the given seconds over the repository's seeds,
# on one core (libFuzzer's fork mode with one job). New inputs go to a work folder in the tree,
# never into the repository. A crash, a leak, a sanitizer finding or an input that takes longer
# than 20 s (the window would freeze) fails the run and is kept there as crash-*, leak-* or
# timeout-*. The log is build/sanitize/fuzz-work/TARGET/log.
run_fuzz_target() {
  local target=$1 seconds=$2
  shift 2
  local work=$MERVANE_SANITIZE_TREE/fuzz-work/$target
  mkdir -p "$work/corpus" "$work/findings"
  local status=0
  "$MERVANE_SANITIZE_TREE/fuzz/fuzz_$target" -fork=1 -ignore_timeouts=0 -ignore_ooms=0 \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -artifact_prefix="$work/findings/" \
    "$@" "$work/corpus" "$MERVANE_ROOT/fuzz/corpus/$target" >"$work/log" 2>&1 || status=$?
  local last runs
  last=$(grep -E '^#[0-9]+: cov:' "$work/log" | tail -n 1)
  runs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
  if [ "$status" -ne 0 ]; then
    say "fuzz_$target found a fault after ${runs:-?} inputs (see $work/log):"
    grep -E '^(==[0-9]+==ERROR|SUMMARY)|runtime error|Test unit written' "$work/log" >&2 ||
      tail -n 30 "$work/log" >&2
    return 1
  fi
  say "fuzz_$target: ${runs:-?} inputs in ${seconds}s, no finding"
}
