#!/usr/bin/env bash
# Peak memory (maximum resident set, from /usr/bin/time) of VNloader's two
# heavy jobs against programs that do the same work:
#   - sending the largest package over loopback to VNsim, against the atftp
#     client putting the same file to atftpd;
#   - packaging the largest image with -EA, against `openssl enc -des-cbc`
#     enciphering the same bytes.
#
#   bench/peak_memory.sh [bin folder] [runs]
#
# bin folder: an optimised build's programs (default build/native/bin); it
# needs VNloader and VNsim. Runs in a private network namespace with only
# loopback up. Installs time, atftp, atftpd and openssl when missing.
#
# Prints the median peak of each (default 5 runs), their ratios, and table
# rows.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
runs=${2:-5}
for program in VNloader VNsim; do
    [[ -x $bin/$program ]] || { echo "not a program: $bin/$program" >&2; exit 2; }
done

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" "$runs" -- time atftp atftpd openssl

enter_scratch_dir
chmod 755 .

# Peak resident kilobytes of one run; the command's own output goes to
# out.txt for the checks.
peak_kb() {
    /usr/bin/time -f %M -o peak.txt "$@" > out.txt 2>&1 || true
    tail -n 1 peak.txt
}

fail() {
    echo "$1" >&2
    exit 2
}

# Transfer: the largest package VNloader writes; packaging: the main HEX
# file it is made from (lib.sh).
make_largest_package "$bin" || exit 2

mkdir root
chmod 777 root  # atftpd writes as nobody
atftpd --daemon --no-fork --port 6969 --bind-address 127.0.0.1 --logfile /dev/null \
    "$work/root" &
server_pid=$!
wait_bound 6969

send_kb=()
atftp_kb=()
package_kb=()
openssl_kb=()
for ((i = 0; i < runs; i++)); do
    "$bin/VNsim" -P pw -K "$bench_key" --idle-ms 20000 > sim.out 2>&1 &
    sim_pid=$!
    wait_bound 69
    send_kb+=("$(peak_kb "$bin/VNloader" -IP 127.0.0.1 -P pw -f image.enc)")
    status=0
    wait "$sim_pid" || status=$?
    ((status == 0)) && grep -q 'File Transfered' out.txt ||
        fail "run $i: the transfer failed: $(tail -n 1 sim.out)"

    atftp_kb+=("$(peak_kb atftp -p -l image.enc -r "run$i.enc" 127.0.0.1 6969)")
    for ((t = 0; t < 100; t++)); do
        cmp -s "root/run$i.enc" image.enc && break
        sleep 0.01
    done
    cmp -s "root/run$i.enc" image.enc || fail "run $i: atftpd received another file"
    rm -f "root/run$i.enc"

    rm -f main.enc
    package_kb+=("$(peak_kb "$bin/VNloader" -NE -T M -f image.hex -EA -K "$bench_key")")
    [[ $(stat -c %s main.enc 2>/dev/null || echo 0) -eq $((12 + 8 + largest_pages * 256)) ]] ||
        fail "run $i: VNloader wrote no package of the expected size"

    rm -f image.des
    openssl_kb+=("$(peak_kb openssl enc -des-cbc -provider legacy -provider default -nopad \
                        -K "$bench_key_hex" -iv "$bench_iv" -in image.bin -out image.des)")
    [[ $(stat -c %s image.des 2>/dev/null || echo 0) -eq "$largest_bytes" ]] ||
        fail "run $i: openssl wrote no output of the expected size: $(cat out.txt)"
done

s=$(median "${send_kb[@]}")
a=$(median "${atftp_kb[@]}")
p=$(median "${package_kb[@]}")
o=$(median "${openssl_kb[@]}")
awk -v s="$s" -v a="$a" -v p="$p" -v o="$o" -v n="$runs" -v pages="$largest_pages" \
    -v bytes="$largest_bytes" 'BEGIN {
    printf "peak resident memory (maximum RSS), median of %d runs\n", n
    printf "transfer, %d-page package over loopback:\n", pages
    printf "  VNloader -f image.enc (to VNsim):      %6d KiB\n", s
    printf "  atftp -p (to atftpd):                  %6d KiB\n", a
    printf "  ratio VNloader / atftp:                %6.2f\n", s / a
    printf "packaging a main HEX image of %d bytes:\n", bytes
    printf "  VNloader -NE -T M -EA -K:              %6d KiB\n", p
    printf "  openssl enc -des-cbc (same bytes):     %6d KiB\n", o
    printf "  ratio VNloader / openssl:              %6.2f\n", p / o
    printf "| Peak memory, transfer of %d pages (max RSS, median of %d) | %d KiB | atftp put: %d KiB | %.2f | — | — |\n", pages, n, s, a, s / a
    printf "| Peak memory, packaging a main HEX image of %d bytes with -EA (max RSS, median of %d) | %d KiB | openssl enc: %d KiB | %.2f | — | — |\n", bytes, n, p, o, p / o
}'
