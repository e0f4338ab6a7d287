#!/usr/bin/env bash
# Sets up what the build needs, builds, and then runs the tool or every test.
#
#   tools/dev.sh run [options]   build the release build, then run sheafwright with the options
#   tools/dev.sh test            build, run the suite with its large rounds
#                                (SHEAFWRIGHT_LARGE_TESTS=1), then again under ASan and UBSan, then
#                                fuzz each target for FUZZ_SECONDS (default 60; Linux only);
#                                on macOS compile the script sent to Notes instead of fuzzing
#
# On Debian and Ubuntu missing packages come from apt-get, on macOS from Homebrew.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)

install_dependencies() {
  if [[ "$(uname -s)" == Darwin ]]; then
    local formulae=(cmake ninja icu4c nlohmann-json simdjson googletest google-benchmark) missing=()
    for f in "${formulae[@]}"; do
      brew list --versions "$f" >/dev/null 2>&1 || missing+=("$f")
    done
    if ((${#missing[@]})); then
      brew install "${missing[@]}"
    fi
    ICU_ROOT="$(brew --prefix icu4c)"
    export ICU_ROOT
    return
  fi
  # SQLite and zlib: macOS has its own; Debian's come from these packages.
  local packages=(cmake ninja-build g++ libicu-dev nlohmann-json3-dev libsimdjson-dev
                  libsqlite3-dev zlib1g-dev libgtest-dev libbenchmark-dev clang libclang-rt-dev)
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    local sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
      "${missing[@]}"
  fi
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

case "${1:-}" in
  run)
    shift
    install_dependencies
    # Warnings are the developers' business: a newer compiler must not stop a user's run.
    build release
    exec build/release/sheafwright "$@"
    ;;
  test)
    install_dependencies
    build dev
    SHEAFWRIGHT_LARGE_TESTS=1 ctest --preset dev -j "$jobs"
    build asan
    if [[ "$(uname -s)" == Darwin ]]; then
      # Homebrew's GoogleTest is not instrumented: libc++'s container annotations then
      # report overflows that are not there.
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_container_overflow=0" \
        ctest --preset asan -j "$jobs"
    else
      ctest --preset asan -j "$jobs"
    fi
    if [[ "$(uname -s)" == Darwin ]]; then
      # No test sends the script to Notes, so at least it must compile.
      osacompile -o build/dev/notes_script.scpt sheafwright/notes_script.applescript
      echo "Fuzzing skipped: Apple's clang has no libFuzzer."
    else
      tools/fuzz.sh
    fi
    ;;
  *)
    echo "usage: tools/dev.sh run [sheafwright options] | tools/dev.sh test" >&2
    exit 2
    ;;
esac
