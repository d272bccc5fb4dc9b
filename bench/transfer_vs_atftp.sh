#!/usr/bin/env bash
# Sending the largest package over loopback: VNloader to VNsim against the
# atftp client putting the same file to atftpd, each timed as a whole client
# process, side by side.
#
#   bench/transfer_vs_atftp.sh [bin folder] [runs]
#
# bin folder: an optimised build's programs (default build/native/bin, built
# with CMAKE_BUILD_TYPE=RelWithDebInfo or Release); it needs VNloader and
# VNsim. Runs in a private network namespace with only loopback up, so port
# 69 is free and nothing leaves the machine. Installs atftp and atftpd when
# they are missing.
#
# Prints the median wall time of each client (default 11 runs, taken in
# turns), their ratio, and a table row; exits 1 when VNloader takes more than
# half of atftp's time, 2 when a side did not transfer every byte.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
runs=${2:-11}
for program in VNloader VNsim; do
    [[ -x $bin/$program ]] || { echo "not a program: $bin/$program" >&2; exit 2; }
done

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" "$runs" -- atftp atftpd

work=$(mktemp -d)
server_pid=
cleanup() {
    [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

make_largest_package "$bin" || exit 2
# What VNsim must rebuild from the pages: the length prefix, then the file.
{ printf '\376\376'; cat app.jar; } > expected.bin
file_size=$(stat -c %s image.enc)

mkdir root
chmod 755 .
chmod 777 root  # atftpd writes as nobody
atftpd --daemon --no-fork --port 6969 --bind-address 127.0.0.1 --logfile /dev/null \
    "$work/root" &
server_pid=$!
wait_bound 6969

# Microseconds of one run, without forking a clock program.
elapsed() {
    local start=$EPOCHREALTIME
    "$@" > client.out 2>&1 || true
    local end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}

fail() {
    echo "run $1: $2" >&2
    exit 2
}

loader_times=()
atftp_times=()
for ((i = 0; i < runs; i++)); do
    rm -f received.bin
    "$bin/VNsim" -P pw -K "$bench_key" -o received.bin --idle-ms 20000 > sim.out 2>&1 &
    sim_pid=$!
    wait_bound 69
    loader_times+=("$(elapsed "$bin/VNloader" -IP 127.0.0.1 -P pw -f image.enc)")
    # Every page arrived, the CRCs held and the pages make the image.
    status=0
    wait "$sim_pid" || status=$?
    ((status == 0)) || fail "$i" "VNsim exit status $status: $(tail -n 1 sim.out)"
    grep -q 'File Transfered' client.out || fail "$i" "VNloader: $(tail -n 2 client.out)"
    grep -q '^VNsim: 767 pages received (0 to 766), crc ok' sim.out ||
        fail "$i" "VNsim: $(tail -n 1 sim.out)"
    cmp -s received.bin expected.bin || fail "$i" "VNsim rebuilt another image"

    atftp_times+=("$(elapsed atftp -p -l image.enc -r "run$i.enc" 127.0.0.1 6969)")
    # atftpd may close the file a moment after its last acknowledgement.
    for ((t = 0; t < 100; t++)); do
        cmp -s "root/run$i.enc" image.enc && break
        sleep 0.01
    done
    cmp -s "root/run$i.enc" image.enc || fail "$i" "atftpd received another file: $(cat client.out)"
    rm -f "root/run$i.enc"
done
sim_summary=$(tail -n 1 sim.out)

loader_us=$(median "${loader_times[@]}")
atftp_us=$(median "${atftp_times[@]}")
awk -v l="$loader_us" -v a="$atftp_us" -v n="$runs" -v s="$file_size" -v sim="$sim_summary" 'BEGIN {
    printf "file: %d bytes, a package of 767 pages (196352 source bytes) sent as a main image\n", s
    printf "loopback in a private network namespace; %d runs each, median wall time of the whole client process\n", n
    printf "every run checked: %s\n", sim
    printf "          and atftpd stored the same %d bytes\n", s
    printf "VNloader -f image.enc (to VNsim):      %8.2f ms\n", l / 1000
    printf "atftp -p, 512-byte blocks (to atftpd): %8.2f ms\n", a / 1000
    printf "ratio VNloader / atftp:                %8.3f (goal: at most 0.5)\n", l / a
    printf "| Transfer, 767 pages over loopback (wall time, median of %d) | %.1f ms | atftp put: %.1f ms | %.2f | at most 0.5 | %s |\n",
        n, l / 1000, a / 1000, l / a, (2 * l <= a) ? "yes" : "no"
}'
((2 * loader_us <= atftp_us))
