#!/usr/bin/env bash
# Updating a fleet: VNfleet against what an operator does today, xargs -P
# running one VNloader per device, on the same emulated devices (one VNsim
# process, --devices), and VNfleet alone on 1000 devices.
#
#   bench/fleet.sh [bin folder]
#
# bin folder: an optimised build's programs (default build/native/bin); it
# needs VNfleet, VNloader and VNsim. Every device gets the largest package
# (513 pages, see lib.sh), takes 1 ms to write a packet's pages
# (--ack-delay-ms 1), and loses 1% of the datagrams each way where loss is
# named. Runs in a private network namespace with only loopback up.
# Installs time when it is missing.
#
# Every run checks every device's image. Prints wall time, CPU time and
# peak memory of each run, and table rows; exits 1 when a goal is missed,
# 2 when an image was wrong or a run could not be made.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
for program in VNfleet VNloader VNsim; do
    [[ -x $bin/$program ]] || { echo "not a program: $bin/$program" >&2; exit 2; }
done

[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$bin" -- time

enter_scratch_dir

make_largest_package "$bin" || exit 2
# A device keeps the image's whole pages.
{ cat image.bin; head -c $((largest_pages * 256 - largest_bytes)) /dev/zero; } > expected.bin
expected_sum=$(sha1sum < expected.bin)

# Device n (from 0) at 127.1.0.1 + n.
address() {
    local n=$(($1 + 1))
    echo "127.1.$((n / 256)).$((n % 256))"
}

fail() {
    echo "$1" >&2
    exit 2
}

# run NAME DEVICES LOSS COMMAND...: one emulated fleet, the command timed
# against it, every image checked. Prints "NAME wall_s cpu_s peak_kib".
run() {
    local name=$1 devices=$2 loss=$3
    shift 3
    rm -rf images sim.out out.* && mkdir images
    { echo address; for ((i = 0; i < devices; i++)); do address "$i"; done; } > list.csv
    tail -n +2 list.csv > addresses
    "$bin/VNsim" --devices "$(address 0)-$(address $((devices - 1)))" --loss "$loss" \
        --ack-delay-ms 1 -P pw -K "$bench_key" -o images --idle-ms 120000 > sim.out 2>&1 &
    server_pid=$!
    for ((t = 0; t < 500; t++)); do
        grep -qs 'listening on' sim.out && break
        sleep 0.01
    done
    grep -q 'listening on' sim.out || fail "$name: VNsim did not start: $(cat sim.out)"
    /usr/bin/time -f '%e %U %S %M' -o time.out "$@" < addresses > run.out 2>&1 || true
    kill -INT "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
    local good=0 failed=0 i image
    for ((i = 0; i < devices; i++)); do
        image=images/$(address "$i").bin
        if [[ -f $image ]] && [[ $(sha1sum < "$image") == "$expected_sum" ]]; then
            good=$((good + 1))
        elif [[ -f out.$(address "$i") ]] && ! grep -q 'File Transfered' "out.$(address "$i")"; then
            # VNloader sends the finish packet once: when it or its answer is
            # lost, VNloader says the update failed, as it should.
            failed=$((failed + 1))
        fi
    done
    ((good + failed == devices)) ||
        fail "$name: $good of $devices images exact; $(tail -n 2 run.out) / $(tail -n 1 sim.out)"
    ((failed == 0)) || echo "$name: $failed of $devices devices not updated, as VNloader said" >&2
    # A command that ends with a non-zero status gets a line of its own first.
    read -r wall user sys peak < <(tail -n 1 time.out)
    echo "$name $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak"
}

fleet=("$bin/VNfleet" -j 64 -P pw -f image.enc list.csv)
# What an operator does today: one VNloader per address read from standard
# input; each one's output is kept for the check.
loaders=(xargs -P 64 -I '{}' sh -c 'exec "$0" -IP "$1" -P pw -f image.enc > "out.$1" 2>&1'
         "$bin/VNloader" '{}')

run "VNfleet-64" 64 0 "${fleet[@]}" >> results
run "xargs-VNloader-64" 64 0 "${loaders[@]}" >> results
run "VNfleet-64-loss" 64 0.01 "${fleet[@]}" >> results
run "xargs-VNloader-64-loss" 64 0.01 "${loaders[@]}" >> results
run "VNfleet-1000" 1000 0 "${fleet[@]}" >> results
run "VNfleet-1000-loss" 1000 0.01 "${fleet[@]}" >> results

awk -v pages="$largest_pages" '
    { order[NR] = $1; wall[$1] = $2; cpu[$1] = $3; peak[$1] = $4 }
    END {
        printf "%d pages to each device, --ack-delay-ms 1; loss 1%% each way where named; every image checked\n", pages
        printf "%-24s %9s %9s %10s\n", "run", "wall s", "CPU s", "peak KiB"
        for (i = 1; i <= NR; i++)
            printf "%-24s %9.2f %9.2f %10d\n", order[i], wall[order[i]], cpu[order[i]], peak[order[i]]
        clean = wall["xargs-VNloader-64"] / wall["VNfleet-64"]
        lossy = wall["xargs-VNloader-64-loss"] / wall["VNfleet-64-loss"]
        met = (lossy >= 20 && clean >= 1) ? "yes" : "no"
        printf "| Fleet of 64, %d pages each, 1%% loss each way (wall time) | VNfleet -j 64: %.2f s | xargs -P 64 VNloader: %.1f s | %.0f times faster | at least 20 times | %s |\n",
            pages, wall["VNfleet-64-loss"], wall["xargs-VNloader-64-loss"], lossy, (lossy >= 20) ? "yes" : "no"
        printf "| Fleet of 64, %d pages each, no loss (wall time) | VNfleet -j 64: %.2f s | xargs -P 64 VNloader: %.2f s | %.1f times faster | no slower | %s |\n",
            pages, wall["VNfleet-64"], wall["xargs-VNloader-64"], clean, (clean >= 1) ? "yes" : "no"
        big = wall["VNfleet-1000-loss"]
        mem = peak["VNfleet-1000-loss"] > peak["VNfleet-1000"] ? peak["VNfleet-1000-loss"] : peak["VNfleet-1000"]
        printf "| Fleet of 1000, %d pages each: wall, CPU, peak memory without loss / with 1%% loss | %.1f s, %.1f s, %d KiB / %.1f s, %.1f s, %d KiB | — | — | under 60 s with loss, under 64 MiB | %s |\n",
            pages, wall["VNfleet-1000"], cpu["VNfleet-1000"], peak["VNfleet-1000"], big, cpu["VNfleet-1000-loss"], peak["VNfleet-1000-loss"],
            (big < 60 && mem < 65536) ? "yes" : "no"
        exit (met == "yes" && big < 60 && mem < 65536) ? 0 : 1
    }' results
