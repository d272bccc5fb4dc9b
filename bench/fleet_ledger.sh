#!/usr/bin/env bash
# What the report costs: VNfleet on 1000 emulated devices (largest package,
# no loss), with --report from two builds and without it, run alternately
# for a number of rounds so a shared machine's load falls on all alike.
#
#   bench/fleet_ledger.sh NEW_BIN OLD_BIN [ROUNDS]
#
# Prints each run and the median wall time of each kind; exits 1 when the
# new build's report costs more than 10% over the run without one.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
new=$(realpath "$1")
old=$(realpath "$2")
rounds=${3:-5}
bin=$new
[[ -n ${VN_IN_NETNS:-} ]] || enter_private_network "$@" -- time

enter_scratch_dir
. "$here/fleet_lib.sh"
make_largest_package "$bin" || exit 2
{ printf '\376\376'; cat app.jar; } > expected.bin
expected_sum=$(sha1sum < expected.bin)

for ((round = 0; round < rounds; round++)); do
    run "old-report" 1000 0 "$old/VNfleet" -j 64 -P pw -f image.enc --report report.jsonl list.csv
    run "new-report" 1000 0 "$new/VNfleet" -j 64 -P pw -f image.enc --report report.jsonl list.csv
    run "new-none" 1000 0 "$new/VNfleet" -j 64 -P pw -f image.enc list.csv
done | tee results
sort -k1,1 -k2,2n results | awk '
    { wall[$1, ++n[$1]] = $2 }
    END {
        for (k in n) median[k] = wall[k, int((n[k] + 1) / 2)]
        printf "median wall s: old with report %.2f, new with report %.2f, new without %.2f\n",
            median["old-report"], median["new-report"], median["new-none"]
        printf "new report against none: %.3f; new report against old report: %.3f\n",
            median["new-report"] / median["new-none"], median["new-report"] / median["old-report"]
        exit (median["new-report"] <= 1.10 * median["new-none"]) ? 0 : 1
    }'
