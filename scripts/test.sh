#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the full build (app included) with all tests,
#   2. the libraries below the app with AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. the threaded tests with ThreadSanitizer,
#   4. a short bounded run of every libFuzzer target (clang).
# Set QUICK=1 to run only the first pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp:halt_on_error=1"
status=0

# Test builds optimise lightly and keep little debug information: compiling is most of the
# run's time, and the tests need correct code and readable stack traces, not speed.
flags="-O1 -g1"

build() { # dir, [--target T], cmake args...
  local dir=$1; shift
  local target=()
  if [ "${1:-}" = --target ]; then target=(--target "$2"); shift 2; fi
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" \
        "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" "${target[@]}"
}

echo "== Formatting =="
# Every tracked C and C++ source follows .clang-format; a misformatted file fails the run.
if ! git -C "$root" ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror; then
  echo "Formatting check FAILED: run clang-format -i on the files above"; status=1
fi

echo "== Build and test =="
mkdir -p build-test
build build-test -DPLAYER_WERROR=ON
ctest --test-dir build-test --output-on-failure -j "$jobs" || status=1

if [ "${QUICK:-0}" != 1 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer (libraries below the app) =="
  mkdir -p build-asan
  build build-asan -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_BENCH=OFF \
        -DPLAYER_SANITIZE=address,undefined
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE gui || status=1

  echo "== ThreadSanitizer (threaded tests) =="
  mkdir -p build-tsan
  build build-tsan --target threaded_tests -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_BENCH=OFF \
        -DPLAYER_SANITIZE=thread
  if ctest --test-dir build-tsan -N -L threaded | grep -q 'Total Tests: [1-9]'; then
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded || status=1
  fi

  echo "== libFuzzer (bounded runs) =="
  mkdir -p build-fuzz
  build build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_TESTS=OFF -DPLAYER_BUILD_BENCH=OFF -DPLAYER_FUZZ=ON
  for f in build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="build-fuzz/corpus/$name"; mkdir -p "$corpus"
    if "$f" -max_total_time="${FUZZ_SECONDS:-15}" -rss_limit_mb=2048 -timeout=10 "$corpus" > "build-fuzz/$name.log" 2>&1; then
      echo "fuzz $name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "build-fuzz/$name.log" | tail -1)"
    else
      echo "fuzz $name FAILED"; tail -40 "build-fuzz/$name.log"; status=1
    fi
  done
fi

if [ $status -ne 0 ]; then echo "Some tests FAILED"; else echo "All tests passed"; fi
exit $status
