#!/usr/bin/env bash
# What the report costs: VNfleet on 1000 emulated devices (largest package,
# no loss), with --report and without it, and with the report of an older
# build when one is given, run alternately for a number of rounds so a
# shared machine's load falls on all alike.
#
#   bench/fleet_ledger.sh [NEW_BIN [OLD_BIN [ROUNDS]]]
#
# NEW_BIN defaults to build/native/bin (as run-all.sh gives it). Prints each
# run, the median wall time of each kind and a table row; exits 1 when the
# new build's report costs more than 10% over the run without one.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
new=$(realpath "${1:-build/native/bin}")
old=${2:+$(realpath "$2")}
rounds=${3:-5}
bin=$new
[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$new" ${2:+"$old"} ${3:+"$rounds"} -- time

enter_scratch_dir
. "$here/fleet_lib.sh"
make_largest_package "$bin" || exit 2
# A device keeps the image's whole pages.
{ cat image.bin; head -c $((largest_pages * 256 - largest_bytes)) /dev/zero; } > expected.bin
expected_sum=$(sha1sum < expected.bin)

for ((round = 0; round < rounds; round++)); do
    [[ -z $old ]] ||
        run "old-report" 1000 0 "$old/VNfleet" -j 64 -P pw -f image.enc --report report.jsonl list.csv
    run "new-report" 1000 0 "$new/VNfleet" -j 64 -P pw -f image.enc --report report.jsonl list.csv
    run "new-none" 1000 0 "$new/VNfleet" -j 64 -P pw -f image.enc list.csv
done | tee results
sort -k1,1 -k2,2n results | awk -v rounds="$rounds" '
    { wall[$1, ++n[$1]] = $2 }
    END {
        for (k in n) median[k] = wall[k, int((n[k] + 1) / 2)]
        r = median["new-report"]; none = median["new-none"]; o = median["old-report"]
        printf "median wall s: new with report %.2f, new without %.2f", r, none
        if (o != "") printf ", old with report %.2f (new against old: %.3f)", o, r / o
        printf "\n"
        met = r <= 1.10 * none
        printf "| Fleet of 1000 with --report against none (wall time, median of %d) | %.2f s | without --report: %.2f s | %.3f | at most 1.10 | %s |\n",
            rounds, r, none, r / none, met ? "yes" : "no"
        exit met ? 0 : 1
    }'
