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
run() {
    local name=$1 devices=$2 loss=$3
    shift 3
    rm -rf images sim.out && mkdir images
    rm -f report.jsonl f*.enc
    if [[ -n ${list_files:-} ]]; then
        # A file of its own for each device: names of one package.
        { echo address,file; for ((i = 0; i < devices; i++)); do
            ln image.enc "f$i.enc"; echo "$(address "$i"),f$i.enc"; done; } > list.csv
    else
        { echo address; for ((i = 0; i < devices; i++)); do address "$i"; done; } > list.csv
    fi
    tail -n +2 list.csv | cut -d, -f1 > addresses
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
    local good=0 i
    for ((i = 0; i < devices; i++)); do
        [[ -f images/$(address "$i").bin ]] &&
            [[ $(sha1sum < "images/$(address "$i").bin") == "$expected_sum" ]] && good=$((good + 1))
    done
    ((good == devices)) ||
        fail "$name: $good of $devices images exact; $(tail -n 2 run.out) / $(tail -n 1 sim.out)"
    # A command that ends with a non-zero status gets a line of its own first.
    read -r wall user sys peak < <(tail -n 1 time.out)
    echo "$name $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak"
}

