#!/usr/bin/env bash
# Sending the largest package over loopback to a responder that only
# acknowledges: VNloader against a minimal C client that makes the same
# exchange (send, wait, receive, a line per packet), each timed as a whole
# client process, in turns, against the same responder.
#
#   bench/transfer_vs_minimal.sh [bin folder] [runs]
#
# bin folder: an optimised build's programs (default build/native/bin); it
# needs VNloader. The responder and the client (bench/ack_responder.c,
# bench/minimal_client.c) are built here with cc -O2, statically linked as
# VNloader is. Runs in a private network namespace with only loopback up.
#
# Prints the median wall time of each client (default 21 runs), their ratio
# and a table row; every run is checked to have sent the same datagrams,
# byte for byte. Exits 1 when VNloader takes more than 1.3 times the minimal
# client's time, 2 when a side did not complete its transfer.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
runs=${2:-21}
[[ -x $bin/VNloader ]] || { echo "not a program: $bin/VNloader" >&2; exit 2; }

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" "$runs" --

enter_scratch_dir

for program in ack_responder minimal_client; do
    cc -std=c11 -D_DEFAULT_SOURCE -O2 -Wall -Wextra -static -o "$program" "$here/$program.c" ||
        { echo "cannot build $program" >&2; exit 2; }
done
make_largest_package "$bin" || exit 2

./ack_responder > responder.out &
server_pid=$!
wait_bound 69

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

# The responder's line for the run just ended: both clients must send the
# same datagrams in every run.
exchange=
check_exchange() {
    local line t
    for ((t = 0; t < 100; t++)); do
        line=$(sed -n "${1}p" responder.out)
        [[ -n $line ]] && break
        sleep 0.01
    done
    [[ -n $line ]] || fail "$2" "the responder saw no finish packet"
    [[ -z $exchange ]] && exchange=$line
    [[ $line == "$exchange" ]] || fail "$2" "another exchange: $line, not $exchange"
}

loader_times=()
minimal_times=()
finishes=0
for ((i = 0; i < runs; i++)); do
    loader_times+=("$(elapsed "$bin/VNloader" -IP 127.0.0.1 -P pw -f image.enc)")
    grep -q 'File Transfered' client.out || fail "$i" "VNloader: $(tail -n 2 client.out)"
    check_exchange $((++finishes)) "$i"

    minimal_times+=("$(elapsed ./minimal_client 127.0.0.1 pw image.enc)")
    grep -q 'File Transfered' client.out || fail "$i" "minimal client: $(tail -n 2 client.out)"
    check_exchange $((++finishes)) "$i"
done

loader_us=$(median "${loader_times[@]}")
minimal_us=$(median "${minimal_times[@]}")
awk -v l="$loader_us" -v m="$minimal_us" -v n="$runs" -v x="$exchange" 'BEGIN {
    printf "a package of 767 pages (196352 source bytes) sent as a main image to a responder that only acknowledges\n"
    printf "loopback in a private network namespace; %d runs each, median wall time of the whole client process\n", n
    printf "every run of both clients: %s\n", x
    printf "VNloader -f image.enc:            %8.2f ms\n", l / 1000
    printf "minimal C client, same exchange:  %8.2f ms\n", m / 1000
    printf "ratio VNloader / minimal client:  %8.3f (goal: at most 1.3)\n", l / m
    printf "| Transfer, 767 pages over loopback to an acknowledging responder (wall time, median of %d) | %.1f ms | minimal C client: %.1f ms | %.2f | at most 1.3 | %s |\n",
        n, l / 1000, m / 1000, l / m, (10 * l <= 13 * m) ? "yes" : "no"
}'
((10 * loader_us <= 13 * minimal_us))
