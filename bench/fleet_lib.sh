# Emulated fleets for the fleet benchmarks: sourced after lib.sh, inside the
# scratch folder, with $bin set and image.enc and expected.bin made.

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
# sim_options: more options for VNsim (e.g. --reboot-ms).
run() {
    local name=$1 devices=$2 loss=$3
    shift 3
    rm -rf images sim.out out.* report.jsonl f*.enc && mkdir images
    if [[ -n ${list_files:-} ]]; then
        # A file of its own for each device: names of one package.
        { echo address,file; for ((i = 0; i < devices; i++)); do
            ln image.enc "f$i.enc"; echo "$(address "$i"),f$i.enc"; done; } > list.csv
    else
        { echo address; for ((i = 0; i < devices; i++)); do address "$i"; done; } > list.csv
    fi
    tail -n +2 list.csv | cut -d, -f1 > addresses
    "$bin/VNsim" --devices "$(address 0)-$(address $((devices - 1)))" --loss "$loss" \
        --ack-delay-ms 1 -P pw -K "$bench_key" -o images --idle-ms 120000 ${sim_options:-} \
        > sim.out 2>&1 &
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
