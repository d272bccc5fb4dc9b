#!/bin/sh
# Builds the libFuzzer harnesses (if needed) and runs each for a short, fixed
# budget, seeded from fuzz/corpus. Fails on the first finding; its input is
# kept in build/fuzz/artifacts. VN_FUZZ_SECONDS sets the budget per harness
# (default 25: ten harnesses stay within six minutes, build included).
set -eu
cd "$(dirname "$0")/.."
seconds=${VN_FUZZ_SECONDS:-25}
build=build/fuzz
harnesses="hex_byte hex_word package update_file transfer command_line debug_line device_list password_file ledger_reader"

if ! command -v clang++ >/dev/null 2>&1 ||
   ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y clang libclang-rt-dev || apt-get install -y clang libclang-rt-14-dev
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CXX=clang++ cmake -S . -B "$build" -DVN_FUZZ=ON -DVN_TESTS=OFF -DVN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$(nproc)" --target vn_fuzz

mkdir -p "$build/artifacts"
status=0
for name in $harnesses; do
  # New inputs go to a scratch corpus; the seeds in the tree stay as written.
  work="$build/corpus/$name"
  mkdir -p "$work"
  echo "== $name ($seconds s)"
  # Inputs a fuzzer once found live in fuzz/findings: make-seeds.py rewrites fuzz/corpus.
  found=""
  [ -d "fuzz/findings/$name" ] && found="fuzz/findings/$name"
  if "$build/bin/fuzz_$name" "$work" "fuzz/corpus/$name" $found \
      -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" >"$build/$name.log" 2>&1; then
    grep -E '^#[0-9]+.*DONE' "$build/$name.log" | tail -n 1
  else
    status=1
    echo "FINDING in $name:"
    grep -v -E '^#[0-9]+|^INFO:' "$build/$name.log" | head -n 40
  fi
done
[ $status -eq 0 ] && echo "fuzzing: no findings" || echo "fuzzing: FINDINGS (see $build/artifacts)"
exit $status
