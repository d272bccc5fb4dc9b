#!/bin/sh
# The main job, rehearsed on loopback: package the bundled example image,
# send it with VNloader to the device emulator VNsim, and show its verdict.
# Everything runs in a private network namespace: no real device is reached.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/install-deps.sh" --native
cmake -S "$root" -B "$root/build/native" >/dev/null  # optimised unless the folder says otherwise
cmake --build "$root/build/native" -j"$(nproc)" --target VNloader VNsim >/dev/null
bin="$root/build/native/bin"
work=$(mktemp -d)
cd "$work"

echo "== Packaging examples/demo-main.hex"
"$bin/VNloader" -NE -T M -f "$root/examples/demo-main.hex" -K demo-key || true
ls -l main.enc

echo "== Sending main.enc to VNsim on 127.0.0.1"
"$root/tests/netns-run.sh" sh -c '
  "$1/VNsim" -P demo-pw -K demo-key -o received.bin --idle-ms 30000 > vnsim.log &
  sim=$!
  sleep 0.3
  "$1/VNloader" -IP 127.0.0.1 -P demo-pw -f main.enc
  echo "(VNloader exit status $?)"
  wait $sim
  echo "(VNsim exit status $?)"
' demo "$bin"
echo "== VNsim's report"
cat vnsim.log
echo "== Work folder: $work"
