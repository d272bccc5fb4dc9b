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
# named; in the last two runs each device reboots for 5 s after its update
# (VNsim --reboot-ms 5000), pinged until it is back in the last one. Runs in
# a private network namespace with only loopback up.
# Installs time when it is missing.
#
# Every run checks every device's image. Prints wall time, CPU time and
# peak memory of each run, and table rows; exits 1 when a goal is missed,
# 2 when an image was wrong or a run could not be made.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
. "$here/fleet_lib.sh"
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
# The ledger: a line per device, synced once a second.
run "VNfleet-1000-report" 1000 0 "$bin/VNfleet" -j 64 -P pw -f image.enc --report report.jsonl list.csv >> results
# Every device a file of its own: loaded as it starts, let go as it ends.
list_files=1 run "VNfleet-1000-files" 1000 0 "${fleet[@]}" >> results
# Devices that reboot for 5 s after their update, VNfleet waiting to see
# each back; VNsim answers the pings, the kernel's own echo is off.
sysctl -qw net.ipv4.icmp_echo_ignore_all=1
sim_options="--reboot-ms 5000" run "VNfleet-1000-loss-reboot" 1000 0.01 "${fleet[@]}" >> results
sim_options="--reboot-ms 5000" run "VNfleet-1000-loss-await" 1000 0.01 \
    "$bin/VNfleet" -j 64 -P pw -f image.enc --await-ping 60 list.csv >> results

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
        ledger = wall["VNfleet-1000-report"] / wall["VNfleet-1000"]
        printf "| Fleet of 1000 with --report: wall against none | %.1f s against %.1f s | — | %.2f times | at most 1.10 | %s |\n",
            wall["VNfleet-1000-report"], wall["VNfleet-1000"], ledger, (ledger <= 1.10) ? "yes" : "no"
        own = peak["VNfleet-1000-files"]
        printf "| Fleet of 1000, each device a file of its own: wall, peak memory | %.1f s, %d KiB | — | — | under 64 MiB | %s |\n",
            wall["VNfleet-1000-files"], own, (own < 65536) ? "yes" : "no"
        lossfloor = 1.2 * (wall["VNfleet-1000"] + 10)
        printf "| Fleet of 1000 with 1%% loss against none (wall time) | %.1f s against %.1f s | — | %.2f times (no-loss time + 10 s) | at most 1.2 times | %s |\n",
            big, wall["VNfleet-1000"], big / (wall["VNfleet-1000"] + 10), (big <= lossfloor) ? "yes" : "no"
        awaited = wall["VNfleet-1000-loss-await"] - wall["VNfleet-1000-loss-reboot"]
        apeak = peak["VNfleet-1000-loss-await"]
        printf "| Fleet of 1000, 1%% loss, 5 s reboots: --await-ping 60 against none (wall, peak memory) | %.1f s, %d KiB against %.1f s | — | %.1f s more | at most 7 s more (reboot + 2 s), under 64 MiB | %s |\n",
            wall["VNfleet-1000-loss-await"], apeak, wall["VNfleet-1000-loss-reboot"], awaited, (awaited <= 7 && apeak < 65536) ? "yes" : "no"
        exit (met == "yes" && big < 60 && mem < 65536 && own < 65536 && big <= lossfloor && awaited <= 7 && apeak < 65536) ? 0 : 1
    }' results
