#!/usr/bin/env bash
# Many sites: three sites of 300 devices each updated by deploy/ansible's
# site.yml (each site host a local connection running its own VNfleet), in
# its waves (one site, then the other two) and in one wave, against the
# same 900 devices from one VNfleet.
#
#   bench/sites.sh [bin folder]
#
# Every device gets the largest package (513 pages, see lib.sh), takes 1 ms
# to write a packet's pages and loses 1% of the datagrams each way; each
# site is one VNsim fleet. Runs in a private network namespace with only
# loopback up; needs ansible-core (scripts/install-deps.sh --ansible). Every
# run checks every device's image. Prints the wall time of each run and a
# table row.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin=$(realpath "${1:-build/native/bin}")
playbook=$here/../deploy/ansible/site.yml
per_site=300

[[ -n ${VN_IN_NETNS:-} ]] || { sh "$here/../scripts/install-deps.sh" --ansible >/dev/null &&
    enter_private_network "$bin" --; }

enter_scratch_dir
make_largest_package "$bin" || exit 2
# A device keeps the image's whole pages.
{ cat image.bin; head -c $((largest_pages * 256 - largest_bytes)) /dev/zero; } > expected.bin
export ANSIBLE_CONFIG=$here/../deploy/ansible/ansible.cfg ANSIBLE_NOCOLOR=1
export ANSIBLE_LOCAL_TEMP=$work/.al ANSIBLE_REMOTE_TEMP=$work/.ar

# Device n (from 1) of site s.
address() { echo "127.$1.$(($2 / 256)).$(($2 % 256))"; }

mkdir lists
for s in 1 2 3; do
    { echo address; for ((n = 1; n <= per_site; n++)); do address "$s" "$n"; done; } > "lists/site-$s.csv"
done
{ echo address; for s in 1 2 3; do tail -n +2 "lists/site-$s.csv"; done; } > all.csv
cat > inventory.yml <<EOF
sites:
  hosts: {site-1: {}, site-2: {}, site-3: {}}
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    vnfleet_workdir: "$work/{{ inventory_hostname }}"
    vnfleet_list: "$work/lists/{{ inventory_hostname }}.csv"
    vnfleet_file: "$work/image.enc"
    vnfleet_password: pw
EOF

sims=()
start_sites() {
    rm -rf images site-* reports && mkdir images
    sims=()
    for s in 1 2 3; do
        "$bin/VNsim" --devices "$(address "$s" 1)-$(address "$s" "$per_site")" --loss 0.01 \
            --ack-delay-ms 1 -P pw -K "$bench_key" -o images --idle-ms 300000 > "sim-$s.out" 2>&1 &
        sims+=($!)
        for ((t = 0; t < 500; t++)); do grep -qs 'listening on' "sim-$s.out" && break; sleep 0.01; done
    done
}

# run NAME COMMAND...: prints "NAME wall_s" after checking every image.
run() {
    local name=$1 good=0 s n
    shift
    start_sites
    local began=$EPOCHREALTIME
    "$@" > run.out 2>&1 || { echo "$name failed: $(grep -A3 'last line\|FAILED' run.out)" >&2; exit 2; }
    local wall=$(awk -v a="$began" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    for pid in "${sims[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    for s in 1 2 3; do
        for ((n = 1; n <= per_site; n++)); do
            cmp -s expected.bin "images/$(address "$s" "$n").bin" && good=$((good + 1))
        done
    done
    ((good == 3 * per_site)) || { echo "$name: $good of $((3 * per_site)) images exact" >&2; exit 2; }
    echo "$name $wall"
}

sites=(ansible-playbook -i inventory.yml "$playbook" -e "vnfleet_program=$bin/VNfleet"
       -e "vnfleet_reports_dir=$work/reports")
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
{
    run "ansible-3-sites-waves-1-then-2" "${sites[@]}"
    run "ansible-3-sites-one-wave" "${sites[@]}" -e '{"vnfleet_waves": ["100%"]}'
    run "VNfleet-900-j64" "$bin/VNfleet" -P pw -f image.enc all.csv
    run "VNfleet-900-j192" "$bin/VNfleet" -j 192 -P pw -f image.enc all.csv
} | tee results
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{ wall[NR] = $2 }
    END {
        printf "| Three sites of %d through Ansible, waves 1 then 2 / one wave (wall time) | %.1f s / %.1f s | one VNfleet of 900, -j 64 / -j 192: %.1f s / %.1f s | %.2f / %.2f | — | — |\n",
            '"$per_site"', wall[1], wall[2], wall[3], wall[4], wall[1] / wall[3], wall[2] / wall[4]
    }' results
