# Shared pieces of the benchmark scripts; sourced, not run.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Installs the Debian packages named that are missing, then runs the calling
# script again inside a private network namespace with only loopback up (it
# has no way out, so installing comes first). Arguments: the script's own
# arguments, "--", then the packages.
enter_private_network() {
    local args=() need=() pkg
    while (($#)) && [[ $1 != -- ]]; do
        args+=("$1")
        shift
    done
    shift || true
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            need+=("$pkg")
    done
    if ((${#need[@]})); then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
    fi
    exec "$bench_dir/../tests/netns-run.sh" "$0" "${args[@]}"
}

# Waits until something has bound UDP <port> on this namespace's loopback.
wait_bound() {
    local hex t
    hex=$(printf ':%04X ' "$1")
    for ((t = 0; t < 500; t++)); do
        grep -q "$hex" /proc/net/udp && return 0
        sleep 0.01
    done
    echo "nothing bound UDP port $1" >&2
    return 1
}

median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# The key every benchmark packages with, and the form openssl takes it in:
# the device takes each group of four key bytes in reverse order.
bench_key=benchkey
bench_key_hex=$(printf '%s' "$bench_key" | od -An -tx1 | tr -d ' \n' |
                sed -E 's/^(..)(..)(..)(..)(..)(..)(..)(..)$/\4\3\2\1\8\7\6\5/')
bench_iv=5A3C91E70B64D218

# Writes image.enc, the largest package VNloader writes: 196352 source bytes
# (app.jar, a 196350-byte Java file, and its 2-byte length prefix), 767
# pages. The device, and VNsim, take Java only into pages 1427 to 1554, and a
# main-CPU HEX file cannot reach past 0x20020 bytes, so the package is sent
# as a main image (pages 0 to 766, within the main pages 0 to 1026) by
# setting its header's type byte to 2; that byte is outside the body and its
# CRC. Argument: the folder holding VNloader.
make_largest_package() {
    head -c 196350 /dev/urandom > app.jar
    "$1/VNloader" -NE -T J -f app.jar -K "$bench_key" > package.out || true
    if [[ $(stat -c %s java.enc 2>/dev/null || echo 0) -ne $((12 + 8 + 767 * 256)) ]]; then
        echo "VNloader wrote no package of the expected size:" >&2
        cat package.out >&2
        return 2
    fi
    cp java.enc image.enc
    printf '\002' | dd of=image.enc bs=1 seek=1 conv=notrunc status=none
}

# Moves into a new scratch folder, removed on exit together with the
# background server whose process id the caller puts in server_pid.
server_pid=
enter_scratch_dir() {
    work=$(mktemp -d)
    trap leave_scratch_dir EXIT
    cd "$work"
}
leave_scratch_dir() {
    # The server ends by our signal: its status must not become the script's.
    if [[ -n $server_pid ]]; then
        kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
