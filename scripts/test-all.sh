#!/bin/sh
# Builds and tests every leg: native Linux, Linux with AddressSanitizer and
# UndefinedBehaviorSanitizer, and Windows x86-64 (mingw-w64) under Wine;
# then the Ansible role against three emulated sites, the packages' contents
# and a short run of every fuzzer.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DVN_WERROR=ON
cmake --build build/native -j"$jobs"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVN_SANITIZE=ON -DVN_WERROR=ON
cmake --build build/asan -j"$jobs"
cmake -S . -B build/win -DCMAKE_BUILD_TYPE=Release -DVN_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build/win -j"$jobs"

passed=0
failed=0
leg() {
  name=$1
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "== $name FAILED"; fi
}
leg native ctest --test-dir build/native --output-on-failure -j"$jobs"
leg sanitizers ctest --test-dir build/asan --output-on-failure -j"$jobs"
leg "windows (wine)" tests/netns-run.sh sh scripts/test-wine-leg.sh build/win build/native
leg "many sites (ansible)" sh deploy/ansible/test-sites.sh build/native
leg "packages (deb, zip)" sh scripts/check-packages.sh build/native build/win
leg fuzzing sh fuzz/run-all.sh
echo "legs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
