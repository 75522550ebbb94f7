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
# Many tests spend much of their time waiting on playback at its own pace: twice as many tests
# as cores keep the cores busy. They wait for conditions with deadlines, so load does not fail them.
test_jobs=$((jobs * 2))
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp:halt_on_error=1"
status=0
failed=() # stage: test names, repeated at the end where a short log tail still shows them

# Runs ctest in a build folder; on failure notes the stage and the names of the failed tests.
run_ctest() { # stage, dir, ctest args...
  local stage=$1 dir=$2; shift 2
  if ! ctest --test-dir "$dir" --output-on-failure -j "$test_jobs" "$@"; then
    status=1
    local names
    names=$(sed 's/^[0-9]*://' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | paste -sd ' ')
    failed+=("$stage: ${names:-see the log above}")
  fi
}

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
# Every C and C++ source follows .clang-format; a misformatted file fails the run. The list is
# git's tracked files; a checkout owned by another user is trusted for this read only, and a
# tree without git metadata is listed from the source folders, never skipped.
sources() {
  if git -c safe.directory="$root" -C "$root" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    git -c safe.directory="$root" -C "$root" ls-files -z '*.c' '*.cpp' '*.h'
  else
    find . -path './build*' -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0
  fi
}
if ! sources | xargs -0 clang-format --dry-run -Werror; then
  echo "Formatting check FAILED: run clang-format -i on the files above"; status=1
  failed+=("formatting")
fi

echo "== Build and test =="
mkdir -p build-test
build build-test -DPLAYER_WERROR=ON
run_ctest "full build" build-test

if [ "${QUICK:-0}" != 1 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer (libraries below the app) =="
  mkdir -p build-asan
  build build-asan -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_BENCH=OFF -DPLAYER_WERROR=ON \
        -DPLAYER_SANITIZE=address,undefined
  run_ctest "ASan+UBSan" build-asan -LE gui

  echo "== ThreadSanitizer (threaded tests) =="
  mkdir -p build-tsan
  build build-tsan --target threaded_tests -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_BENCH=OFF -DPLAYER_WERROR=ON \
        -DPLAYER_SANITIZE=thread
  threaded=$(ctest --test-dir build-tsan -N -L threaded) # read whole: see run.sh
  if grep -q 'Total Tests: [1-9]' <<< "$threaded"; then
    run_ctest "TSan" build-tsan -L threaded
  fi

  echo "== libFuzzer (bounded runs) =="
  mkdir -p build-fuzz
  build build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DPLAYER_BUILD_APP=OFF -DPLAYER_BUILD_TESTS=OFF -DPLAYER_BUILD_BENCH=OFF -DPLAYER_FUZZ=ON
  # Each target runs on one core: as many run side by side as there are cores, and their
  # results are told in order once all have ended.
  for f in build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="build-fuzz/corpus/$name"; mkdir -p "$corpus"
    rm -f "build-fuzz/$name.rc"
    ( rc=0
      "$f" -max_total_time="${FUZZ_SECONDS:-10}" -rss_limit_mb=2048 -timeout=10 "$corpus" \
        > "build-fuzz/$name.log" 2>&1 || rc=$?
      echo "$rc" > "build-fuzz/$name.rc" ) &
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  done
  wait
  for f in build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    if [ "$(cat "build-fuzz/$name.rc" 2>/dev/null)" = 0 ]; then
      echo "fuzz $name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "build-fuzz/$name.log" | tail -1)"
    else
      echo "fuzz $name FAILED"; tail -40 "build-fuzz/$name.log"; status=1
      failed+=("libFuzzer: $name")
    fi
  done
fi

if [ $status -ne 0 ]; then
  echo "Some tests FAILED"
  for f in "${failed[@]}"; do echo "  $f"; done
else
  echo "All tests passed"
fi
exit $status
