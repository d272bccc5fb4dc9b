#!/usr/bin/env bash
# The debug listener under load: 100000 datagrams at 50000 a second to
# `VNloader -no`, its output going to a file. Counts the datagrams that never
# became a Dbg> line and the listener's CPU time per datagram.
#
#   bench/listener_load.sh [bin folder] [runs] [count] [per second]
#
# bin folder: an optimised build's programs (default build/native/bin). Runs
# in a private network namespace with only loopback up, so port 9029 is free
# and nothing leaves the machine. The sender, bench/debug_sender.cpp, is
# compiled on the fly.
#
# Prints, per run and as medians (default 5 runs): datagrams sent and lost,
# the kernel's count of datagrams dropped for a full receive buffer, and CPU
# time (user + system, from /proc/<pid>/stat) per datagram; then table rows.
# Exits 1 when a datagram was lost in any run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
runs=${2:-5}
count=${3:-100000}
rate=${4:-50000}
[[ -x $bin/VNloader ]] || { echo "not a program: $bin/VNloader" >&2; exit 2; }

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" "$runs" "$count" "$rate" --

work=$(mktemp -d)
listener_pid=
cleanup() {
    [[ -n $listener_pid ]] && kill "$listener_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
c++ -O2 -o sender "$here/debug_sender.cpp"

# User + system clock ticks of a process, all its threads.
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# This namespace's UDP counter by name (InDatagrams, RcvbufErrors, ...).
udp_counter() {
    awk -v name="$1" '$1 == "Udp:" && !n { for (i = 2; i <= NF; i++) col[$i] = i; n = 1; next }
                      $1 == "Udp:" { print $col[name]; exit }' /proc/net/snmp
}

hz=$(getconf CLK_TCK)
losses=()
drops=()
per_datagram_us=()
echo "$count datagrams of 50 bytes at $rate a second to VNloader -no, standard output to a file"
echo "receive buffer default: $(cat /proc/sys/net/core/rmem_default) bytes"
for ((i = 0; i < runs; i++)); do
    "$bin/VNloader" -no > listener.out 2>&1 &
    listener_pid=$!
    wait_bound 9029
    ticks_before=$(cpu_ticks "$listener_pid")
    drops_before=$(udp_counter RcvbufErrors)
    sent=$(./sender 127.0.0.1 9029 "$count" "$rate")
    # Done when every line is out or the file has stopped growing.
    last=-1
    for ((t = 0; t < 100; t++)); do
        lines=$(grep -c '^Dbg>' listener.out || true)
        ((lines >= count || lines == last)) && break
        last=$lines
        sleep 0.1
    done
    ticks_after=$(cpu_ticks "$listener_pid")
    kill "$listener_pid"
    wait "$listener_pid" 2>/dev/null || true
    listener_pid=
    drops_after=$(udp_counter RcvbufErrors)
    printed=$(grep -c '^Dbg>' listener.out || true)
    # Every line must carry its own datagram: count the distinct numbers.
    distinct=$(grep -o 'dbg [0-9]*' listener.out | sort -u | wc -l)
    lost=$((count - distinct))
    dropped=$((drops_after - drops_before))
    us=$(awk -v t=$((ticks_after - ticks_before)) -v hz="$hz" -v n="$count" \
             'BEGIN { printf "%.2f", t / hz * 1e6 / n }')
    echo "run $((i + 1)): $sent; $printed Dbg> lines, $lost lost," \
         "$dropped dropped for a full receive buffer; CPU $us us per datagram"
    losses+=("$lost")
    drops+=("$dropped")
    per_datagram_us+=("$us")
done

lost=$(median "${losses[@]}")
dropped=$(median "${drops[@]}")
us=$(median "${per_datagram_us[@]}")
worst=$(printf '%s\n' "${losses[@]}" | sort -n | tail -n 1)
echo "median of $runs runs: $lost lost (worst run $worst), $dropped dropped for a full receive buffer, CPU $us us per datagram"
met=yes
((worst == 0)) || met=no
printf '| Debug listener, %d datagrams at %d/s: datagrams lost (median of %d) | %s lost (worst run %s) | — | — | none lost | %s |\n' \
    "$count" "$rate" "$runs" "$lost" "$worst" "$met"
printf '| Debug listener: CPU time per datagram (median of %d) | %s µs | — | — | — | — |\n' \
    "$runs" "$us"
((worst == 0))
