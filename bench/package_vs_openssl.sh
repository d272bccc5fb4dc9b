#!/usr/bin/env bash
# Packaging the largest image with -EA against `openssl enc -des-cbc` enciphering
# the same bytes, each timed as a whole process, side by side.
#
#   bench/package_vs_openssl.sh path/to/VNloader [runs]
#
# Give it an optimised build (CMAKE_BUILD_TYPE=Release); a Debug build is
# several times slower in the cipher.
#
# Prints the median wall time of each (default 15 runs, taken in turns) and
# their ratio; exits 1 when packaging takes more than 0.7 of openssl's time.
set -euo pipefail

. "$(dirname "$0")/lib.sh"

if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 path/to/VNloader [runs]" >&2
    exit 2
fi
loader=$(realpath "$1")
runs=${2:-15}
[[ -x $loader ]] || { echo "not a program: $loader" >&2; exit 2; }
command -v openssl >/dev/null || { echo "openssl not found" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The largest image VNloader packages (lib.sh): VNloader reads it as Intel
# HEX text, openssl enciphers its bytes from a binary file.
image_size=$largest_bytes
make_largest_hex
openssl_cmd=(openssl enc -des-cbc -provider legacy -provider default -nopad
             -K "$bench_key_hex" -iv "$bench_iv" -in image.bin -out image.des)
loader_cmd=("$loader" -NE -T M -f image.hex -EA -K "$bench_key")

# Both must do the work they are timed for: the package body deciphers to
# the image, and openssl produced as many bytes as it was given.
"${loader_cmd[@]}" > loader.out || true
package_size=$(stat -c %s main.enc 2>/dev/null || echo 0)
if [[ $package_size -ne $((12 + 8 + largest_pages * 256)) ]]; then
    echo "VNloader wrote no package of the expected size:" >&2
    cat loader.out >&2
    exit 2
fi
tail -c +13 main.enc | openssl enc -d -des-cbc -provider legacy -provider default -nopad \
    -K "$bench_key_hex" -iv "$bench_iv" | tail -c +9 | head -c "$image_size" | cmp -s - image.bin ||
    { echo "the package does not decipher to the image" >&2; exit 2; }
"${openssl_cmd[@]}"
[[ $(stat -c %s image.des) -eq $image_size ]] || { echo "openssl output size" >&2; exit 2; }

# Microseconds of one run, without forking a clock program.
elapsed() {
    local start=$EPOCHREALTIME
    "$@" > /dev/null 2>&1 || true
    local end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}

loader_times=()
openssl_times=()
for ((i = 0; i < runs; i++)); do
    loader_times+=("$(elapsed "${loader_cmd[@]}")")
    openssl_times+=("$(elapsed "${openssl_cmd[@]}")")
done

loader_us=$(median "${loader_times[@]}")
openssl_us=$(median "${openssl_times[@]}")
awk -v l="$loader_us" -v o="$openssl_us" -v n="$runs" -v s="$image_size" 'BEGIN {
    printf "image: %d bytes, %d runs each, median wall time of the whole process\n", s, n
    printf "VNloader -NE -T M -EA (package of the HEX file):  %8.2f ms\n", l / 1000
    printf "openssl enc -des-cbc (same bytes): %8.2f ms\n", o / 1000
    printf "ratio VNloader / openssl:          %8.3f\n", l / o
}'
(( loader_us * 10 <= openssl_us * 7 ))
