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
# The responder and both clients run on one CPU (taskset; VN_BENCH_CPU, by
# default the last one; a list such as 0-1 leaves them free): each exchange
# then hands the CPU from one side to the other instead of waking a sleeping
# core, which is what made single runs of the same client differ two-fold. The clients take turns, the one
# that goes first changing every round, after three rounds not counted.
#
# Prints the minimum, median and quartiles of each client's wall time
# (default 101 runs each), the ratios of the minima and of the medians, and
# a table row; every run is checked to have sent the same datagrams, byte
# for byte. Exits 1 when VNloader's median takes more than 1.3 times the
# minimal client's, 2 when a side did not complete its transfer.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
runs=${2:-101}
cpu=${VN_BENCH_CPU:-$(($(nproc) - 1))}
pin=(taskset -c "$cpu")
[[ -x $bin/VNloader ]] || { echo "not a program: $bin/VNloader" >&2; exit 2; }

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" "$runs" --

enter_scratch_dir

for program in ack_responder minimal_client; do
    cc -std=c11 -D_DEFAULT_SOURCE -O2 -Wall -Wextra -static -o "$program" "$here/$program.c" ||
        { echo "cannot build $program" >&2; exit 2; }
done
make_largest_package "$bin" || exit 2

"${pin[@]}" ./ack_responder > responder.out &
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
run_loader() {
    local took
    took=$(elapsed "${pin[@]}" "$bin/VNloader" -IP 127.0.0.1 -P pw -f image.enc)
    grep -q 'File Transfered' client.out || fail "$1" "VNloader: $(tail -n 2 client.out)"
    check_exchange $((++finishes)) "$1"
    ((${1} < 0)) || loader_times+=("$took")
}
run_minimal() {
    local took
    took=$(elapsed "${pin[@]}" ./minimal_client 127.0.0.1 pw image.enc)
    grep -q 'File Transfered' client.out || fail "$1" "minimal client: $(tail -n 2 client.out)"
    check_exchange $((++finishes)) "$1"
    ((${1} < 0)) || minimal_times+=("$took")
}
for ((i = -3; i < runs; i++)); do
    if ((i % 2 == 0)); then
        run_loader "$i"
        run_minimal "$i"
    else
        run_minimal "$i"
        run_loader "$i"
    fi
done

# Minimum, first quartile, median, third quartile, maximum.
spread() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { print v[1], v[int((NR + 3) / 4)], v[int((NR + 1) / 2)], v[int((3 * NR + 1) / 4)], v[NR] }'
}

awk -v l="$(spread "${loader_times[@]}")" -v m="$(spread "${minimal_times[@]}")" -v n="$runs" \
    -v x="$exchange" -v pages="$largest_pages" -v cpu="$cpu" 'BEGIN {
    split(l, L, " ")
    split(m, M, " ")
    printf "a package of %d pages (a main HEX image) sent to a responder that only acknowledges\n", pages
    printf "loopback in a private network namespace, responder and clients on CPU %s; %d runs each,\n", cpu, n
    printf "wall time of the whole client process in ms: minimum, quartiles (first, median, third), maximum\n"
    printf "every run of both clients: %s\n", x
    printf "VNloader -f image.enc:            %8.2f  %8.2f %8.2f %8.2f  %8.2f\n", L[1] / 1000, L[2] / 1000, L[3] / 1000, L[4] / 1000, L[5] / 1000
    printf "minimal C client, same exchange:  %8.2f  %8.2f %8.2f %8.2f  %8.2f\n", M[1] / 1000, M[2] / 1000, M[3] / 1000, M[4] / 1000, M[5] / 1000
    printf "ratio VNloader / minimal client:  %8.3f of the minima, %.3f of the medians (goal: at most 1.3)\n", L[1] / M[1], L[3] / M[3]
    printf "| Transfer, %d pages over loopback to an acknowledging responder, one CPU (wall time, median of %d; minimum) | %.1f ms; %.1f ms | minimal C client: %.1f ms; %.1f ms | %.2f; %.2f | at most 1.3 | %s |\n",
        pages, n, L[3] / 1000, L[1] / 1000, M[3] / 1000, M[1] / 1000, L[3] / M[3], L[1] / M[1], (10 * L[3] <= 13 * M[3]) ? "yes" : "no"
    exit (10 * L[3] <= 13 * M[3]) ? 0 : 1
}'
