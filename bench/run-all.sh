#!/usr/bin/env bash
# Runs every benchmark in bench/ and prints their figures as one table.
#
#   bench/run-all.sh [bin folder]
#
# bin folder: an optimised build's programs (default build/native/bin, from
# cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo). Each benchmark's own output comes
# first, then the machine, the date and the table (Markdown). Run it on a
# quiet machine: the figures are wall times and loss under load.
#
# Exits 1 when a benchmark missed its goal or could not run.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-build/native/bin}")

rows=()
status=0
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

# Turns the packaging benchmark's lines into a table row.
package_row() {
    awk '/^image:/ { bytes = $2; runs = $4 }
         /^VNloader -NE/ { l = $(NF - 1) }
         /^openssl enc/ { o = $(NF - 1) }
         /^ratio/ { r = $NF }
         END {
             if (l == "" || o == "") exit 1
             printf "| Packaging a main HEX image of %d bytes with -EA (wall time, median of %d) | %.1f ms | openssl enc: %.1f ms | %.2f | at most 0.7 | %s |\n",
                 bytes, runs, l, o, r, (r <= 0.7) ? "yes" : "no"
         }'
}

for script in "$here"/*.sh; do
    name=$(basename "$script")
    # The libraries are sourced by the benchmarks, not run.
    [[ $name == run-all.sh || $name == *lib.sh ]] && continue
    echo "== $name"
    if [[ $name == package_vs_openssl.sh ]]; then
        output=$("$script" "$bin/VNloader" 2>&1)
    else
        output=$("$script" "$bin" 2>&1)
    fi
    code=$?
    printf '%s\n\n' "$output"
    ((code == 0)) || status=1
    if [[ $name == package_vs_openssl.sh ]]; then
        row=$(package_row <<< "$output") || row=
    else
        row=$(grep '^| ' <<< "$output")
    fi
    if [[ -z $row ]] || ((code > 1)); then
        row="| $name | could not run (exit status $code) | — | — | — | no |"
    fi
    rows+=("$row")
done

echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(uname -sr)"
echo "Date: $(date '+%Y-%m-%d %H:%M %Z'); load average (1, 5, 15 min) at the start: $load_at_start"
echo "Programs: $bin"
echo
echo "| Benchmark | VNloader | Compared with | Ratio | Goal | Met |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
exit $status
