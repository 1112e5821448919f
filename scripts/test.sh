#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test: once plainly and once with
# AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 4)
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
# Leaks in our own code fail the sanitizer run; third-party ones are listed in the suppressions.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -f tests/lsan.supp ]; then
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
fi

run_config() {
  local dir=$1; shift
  rm -rf "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --timeout 300
}

echo "== plain build and tests"
run_config build/ci-plain
echo "== sanitizer build and tests"
run_config build/ci-asan -DTOMATO_SANITIZE=ON -DTOMATO_BUILD_BENCHMARKS=OFF
