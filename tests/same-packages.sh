#!/bin/sh
# The Linux and Windows builds must write byte-identical packages.
# Usage: same-packages.sh NATIVE_BIN_DIR WINDOWS_BIN_DIR (Wine on the PATH or
# at /usr/lib/wine/wine64).
set -u
native=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/examples/demo-main.hex" "$work/main.hex"
head -c 5000 /dev/urandom > "$work/app.jar"
head -c 777 /dev/urandom > "$work/index.html"
printf ':0400000012345678E8\r\n:0400020099AABBCCFE\r\n:00000001FF\r\n' > "$work/dsp.hex"
failed=0
compared=0
for kind in "M main.hex main.enc" "J app.jar java.enc" "H index.html html.enc" "D dsp.hex dsp.enc"; do
  set -- $kind
  for ea in "" "-EA"; do
    mkdir -p "$work/n" "$work/w"
    (cd "$work/n" && "$native/VNloader" $ea -NE -T "$1" -f "../$2" -K "same key" >/dev/null)
    (cd "$work/w" && "$wine" "$win/VNloader.exe" $ea -NE -T "$1" -f "../$2" -K "same key" >/dev/null 2>&1)
    compared=$((compared + 1))
    if [ -s "$work/n/$3" ] && cmp -s "$work/n/$3" "$work/w/$3"; then
      echo "same: $3 $ea"
    else
      echo "DIFFERENT or missing: $3 $ea"
      failed=$((failed + 1))
    fi
    rm -rf "$work/n" "$work/w"
  done
done
echo "packages: $((compared - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
