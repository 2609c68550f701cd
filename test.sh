#!/usr/bin/env bash
# Checks the layout, builds Quillmoor with warnings as errors and runs every test: the
# normal build, the sanitizer build of the parser tests, the thread-sanitizer build of the
# tests of work shared between threads, and the fuzz targets (briefly, with a fixed seed).
# Exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)

echo "== layout (.clang-format)"
scripts/format.sh --check

echo "== build"
scripts/build.sh build -DQM_WERROR=ON
echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

echo "== sanitizer build (address, undefined behaviour)"
scripts/build.sh build-asan -DQM_WERROR=ON -DQM_SANITIZE=ON -DQM_GUI=OFF -DQM_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L sanitize

echo "== thread sanitizer build (work shared between threads)"
QM_BUILD_TARGET=qm_tsan_tests scripts/build.sh build-tsan -DQM_WERROR=ON -DQM_SANITIZE_THREAD=ON -DQM_GUI=OFF \
  -DQM_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L tsan

echo "== fuzz targets"
scripts/build.sh build-fuzz -DQM_WERROR=ON -DQM_FUZZ=ON -DQM_GUI=OFF -DQM_BENCH=OFF \
  -DCMAKE_CXX_COMPILER=clang++
ctest --test-dir build-fuzz --output-on-failure -j"$jobs" -L fuzz
