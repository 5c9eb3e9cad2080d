# Shared by ./run and ./test: package installation and the build. Source it; do not run it.

MERVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages the program needs to build and run.
MERVANE_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libsndfile1-dev portaudio19-dev libfftw3-dev
  libasound2-plugins fonts-dejavu-core
)
# What the test suite needs on top: test frameworks, a PulseAudio server for the real-audio
# tests, an X server for screenshots, and clang's sanitizer and fuzzer runtimes.
MERVANE_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils xvfb xauth clang libclang-rt-dev
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
