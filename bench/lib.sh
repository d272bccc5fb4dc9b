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

# The largest image VNloader packages and sends: a main-CPU HEX image of
# 0x20020 bytes (513 pages). A main HEX record may start at 0x20000 at the
# latest and holds at most 32 bytes; every other type owns fewer pages (html
# 400, Java 128, logo 16, DSP 100 with the page header, 99 of image in a
# package), and an image never leaves its type's pages.
largest_bytes=$((0x20020))
largest_pages=513

# Writes image.bin (random bytes) and image.hex, the same bytes as Intel HEX
# from address 0: 32-byte records, an extended linear address record at
# every 64 KiB.
make_largest_hex() {
    head -c "$largest_bytes" /dev/urandom > image.bin
    od -An -v -tu1 -w32 image.bin | awk '
        {
            address = (NR - 1) * 32
            if (address % 65536 == 0) {
                high = int(address / 65536)
                printf ":02000004%04X%02X\r\n", high, (256 - (6 + high) % 256) % 256
            }
            low = address % 65536
            sum = NF + int(low / 256) + low % 256
            line = sprintf(":%02X%04X00", NF, low)
            for (i = 1; i <= NF; i++) {
                line = line sprintf("%02X", $i)
                sum += $i
            }
            printf "%s%02X\r\n", line, (256 - sum % 256) % 256
        }
        END { printf ":00000001FF\r\n" }' > image.hex
}

# Writes image.bin, image.hex and image.enc, the largest package VNloader
# writes: image.hex packaged as main.enc. Argument: the folder holding
# VNloader.
make_largest_package() {
    make_largest_hex
    rm -f main.enc
    "$1/VNloader" -NE -T M -f image.hex -K "$bench_key" > package.out || true
    if [[ $(stat -c %s main.enc 2>/dev/null || echo 0) -ne $((12 + 8 + largest_pages * 256)) ]]; then
        echo "VNloader wrote no package of the expected size:" >&2
        cat package.out >&2
        return 2
    fi
    cp main.enc image.enc
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
