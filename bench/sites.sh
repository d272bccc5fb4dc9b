#!/usr/bin/env bash
# Many sites over SSH: three sites of 300 devices each updated by
# deploy/ansible's site.yml, each site host an sshd on its own loopback
# address in a mount namespace of its own (deploy/ansible/site-hosts.sh)
# with the project's .deb installed by the role, in its waves (one site,
# then the other two) and in one wave, against the same 900 devices from
# one VNfleet; then the rollout again with vnfleet_resume and nothing to
# send (wall time and the sites' `changed` count).
#
#   bench/sites.sh [bin folder]   (the build folder above it makes the .deb)
#
# Every device gets the largest package (513 pages, see lib.sh), takes 1 ms
# to write a packet's pages and loses 1% of the datagrams each way; each
# site is one VNsim fleet. Runs in a private network namespace with only loopback up;
# needs ansible-core, openssh-server and sudo (scripts/install-deps.sh
# --ansible). Every run that sends checks every device's image. Prints the
# wall time of each run and a table row.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
. "$here/../deploy/ansible/site-hosts.sh"
bin=$(realpath "${1:-build/native/bin}")
playbook=$here/../deploy/ansible/site.yml
per_site=300

[[ -n ${VN_IN_NETNS:-} ]] || { sh "$here/../scripts/install-deps.sh" --ansible >/dev/null &&
    enter_private_network "$bin" --; }

enter_scratch_dir
trap 'site_hosts_stop; leave_scratch_dir' EXIT
make_largest_package "$bin" || exit 2
# A device keeps the image's whole pages.
{ cat image.bin; head -c $((largest_pages * 256 - largest_bytes)) /dev/zero; } > expected.bin
(cd "$bin/.." && cpack -G DEB -B "$work/deb") > cpack.log 2>&1 || { cat cpack.log >&2; exit 2; }
deb=$(ls "$work"/deb/*.deb)
export ANSIBLE_CONFIG=$here/../deploy/ansible/ansible.cfg ANSIBLE_NOCOLOR=1
export ANSIBLE_LOCAL_TEMP=$work/.al ANSIBLE_PIPELINING=1 ANSIBLE_HOST_KEY_CHECKING=0
export ANSIBLE_SSH_ARGS="-o ControlMaster=auto -o ControlPersist=30s -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
export ANSIBLE_SSH_CONTROL_PATH_DIR=$work/cp
site_hosts_start "$work" 3

# Device n (from 1) of site s.
address() { echo "127.$1.$(($2 / 256)).$(($2 % 256))"; }

mkdir lists inventory inventory/group_vars
for s in 1 2 3; do
    { echo address; for ((n = 1; n <= per_site; n++)); do address "$s" "$n"; done; } > "lists/site-$s.csv"
done
{ echo address; for s in 1 2 3; do tail -n +2 "lists/site-$s.csv"; done; } > all.csv
site_hosts_inventory > inventory/hosts.yml
cat > inventory/group_vars/sites.yml <<EOF
ansible_python_interpreter: /usr/bin/python3
ansible_ssh_private_key_file: $work/id
vnfleet_list: "$work/lists/{{ inventory_hostname }}.csv"
vnfleet_file: "$work/image.enc"
vnfleet_password: pw
vnfleet_package: $deb
vnfleet_reports_dir: $work/reports
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

# The controller's summary runs the build's VNfleet; the sites run the package's.
sites=(env "PATH=$bin:$PATH" ansible-playbook -i inventory "$playbook")
"${sites[@]}" --tags install,copy > install.out 2>&1 || { cat install.out >&2; exit 2; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
{
    run "ansible-ssh-3-sites-waves-1-then-2" "${sites[@]}"
    run "ansible-ssh-3-sites-one-wave" "${sites[@]}" -e '{"vnfleet_waves": ["100%"]}'
    run "VNfleet-900-j64" "$bin/VNfleet" -P pw -f image.enc all.csv
    run "VNfleet-900-j192" "$bin/VNfleet" -j 192 -P pw -f image.enc all.csv
} | tee results
began=$EPOCHREALTIME
"${sites[@]}" -e vnfleet_resume=true > again.out 2>&1 || { cat again.out >&2; exit 2; }
echo "ansible-ssh-nothing-to-send $(awk -v a="$began" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')" \
    "changed=$(awk '/^site-[0-9]/ { for (i = 1; i <= NF; i++) if (sub("^changed=", "", $i)) s += $i } END { print s + 0 }' again.out)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{ wall[NR] = $2 }
    END {
        printf "| Three sites of %d through Ansible over SSH, waves 1 then 2 / one wave (wall time) | %.1f s / %.1f s | one VNfleet of 900, -j 64 / -j 192: %.1f s / %.1f s | %.2f / %.2f | — | — |\n",
            '"$per_site"', wall[1], wall[2], wall[3], wall[4], wall[1] / wall[3], wall[2] / wall[4]
    }' results
