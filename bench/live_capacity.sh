#!/usr/bin/env bash
# Live capacity: the datagram rate on the loopback adapter at which tidewrack starts to report
# kernel drops ("PcapEngine: N packets dropped by the kernel."), in each of three runs, with
# libpcap's default kernel ring and with larger ones.
#
# For every ring size, a release build of this source tree, given that ring by bench/ring_size.c
# (preloaded; 0 is libpcap's default, 2 MiB on Linux), captures `-i lo -f "udp port P"` while
# udp_flood sends small datagrams (60-byte frames) to port P for a few seconds, at rising rates,
# in each mode:
#   -w          a dump only
#   -m 2 -d     frames only into a database
#   -d          the full analysis (mode 1)
#   -x -d       the full analysis with the extended record, connections included (mode 1)
#   -x -m 3 -d  flows only: the connection record and the traffic of each second
# The table gives, per mode and ring, the highest rate without drops and the lowest with them
# (the onset), after two rates in a row with drops. While the ring has room, each datagram is
# captured once (the packets analysed equal the datagrams sent); once it is full, the kernel's
# drop count, which the program prints, can exceed the datagrams lost (analysed plus dropped
# reached 1.6 times the datagrams sent), so it tells that packets were lost more than how many.
# A larger ring absorbs longer bursts; the rate that a mode keeps up with for good shows with
# longer bursts (--seconds 10).
#
# Usage: bench/live_capacity.sh [--seconds S] [--rates "R1 R2 ..."] [--rings "B1 B2 ..."]
#                               [--modes "w m2 m1 x1 x3"]
#   --seconds S   length of each burst (default 3)
#   --rates ...   datagrams per second, rising (default 25k to 700k)
#   --rings ...   kernel ring sizes in bytes (default "0 33554432 67108864")
#   --modes ...   the runs to measure, of w (-w), m2 (-m 2 -d), m1 (-d), x1 (-x -d) and x3
#                 (-x -m 3 -d) (default all five)
# Needs root (a live capture). Builds in $BENCH_DIR/live (default /tmp/tidewrack-bench/live);
# databases and dumps go to /dev/shm. Prints the table and saves it as $BENCH_DIR/live.md.
# Capture competes with the sender for the CPU: run it on a machine that is otherwise quiet.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
bench_dir=${BENCH_DIR:-/tmp/tidewrack-bench}
work=$bench_dir/live
out=/dev/shm/tidewrack-live
seconds=3
rates="25000 50000 75000 100000 125000 150000 200000 250000 300000 400000 500000 700000"
rings="0 33554432 67108864"
modes="w m2 m1 x1 x3"
while (($#)); do
    case $1 in
    --seconds) seconds=$2; shift ;;
    --rates) rates=$2; shift ;;
    --rings) rings=$2; shift ;;
    --modes) modes=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if [[ $(id -u) != 0 ]]; then
    echo "live_capacity.sh captures on lo and needs root" >&2
    exit 2
fi
mkdir -p "$work" "$out"
report=$bench_dir/live.md
: >"$report"
say() { printf '%s\n' "$*" | tee -a "$report"; }

# configure DIR ARGS...: a release build directory of this source tree (one made from another
# tree is made anew).
configure() {
    local dir=$1
    shift
    grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$repo" "$dir/CMakeCache.txt" 2>/dev/null ||
        rm -rf "$dir"
    [[ -f $dir/CMakeCache.txt ]] ||
        cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTIDEWRACK_TESTS=OFF "$@" >/dev/null
}
# One release build of this tree: the program, the sender, and the ring each run is given.
build_dir=$work/build
configure "$build_dir"
cmake --build "$build_dir" -j2 --target tidewrack udp_flood ring_size >/dev/null
flood=$build_dir/bench/udp_flood
ring_shim=$build_dir/bench/libring_size.so
port=47811

# burst RING MODE RATE: one capture of one burst, with that kernel ring; prints "sent-rate
# analysed drops".
burst() {
    local ring=$1 mode=$2 rate=$3 args log=$work/run.out pid sent tw=$build_dir/tidewrack
    rm -f "$out/live.db" "$out/live.pcap"
    case $mode in
    w) args=(-w "$out/live.pcap") ;;
    m2) args=(-m 2 -d "$out/live.db") ;;
    m1) args=(-d "$out/live.db") ;;
    x1) args=(-x -d "$out/live.db") ;;
    x3) args=(-x -m 3 -d "$out/live.db") ;;
    esac
    # Line-buffered, so that the listening line shows as soon as it is printed: the capture
    # ends one second after its last packet, and the burst must come before that.
    LD_PRELOAD=$ring_shim TIDEWRACK_BENCH_RING_BYTES=$ring \
        stdbuf -oL "$tw" -i lo -f "udp port $port" "${args[@]}" >"$log" 2>&1 &
    pid=$!
    for ((i = 0; i < 300; i++)); do
        grep -q '^listening on' "$log" && break
        sleep 0.1
    done
    sleep 0.2
    sent=$("$flood" "$port" "$rate" "$seconds")
    wait "$pid" || true
    local analysed drops
    analysed=$(grep -ao '[0-9]* packets analysed' "$log" | cut -d' ' -f1)
    drops=$(grep -ao 'PcapEngine: [0-9]* packets dropped by the kernel' "$log" | cut -d' ' -f2)
    echo "$(cut -d' ' -f3 <<<"$sent") ${analysed:-0} ${drops:-0}"
}

ring_name() { (($1 == 0)) && echo "2 MiB (libpcap's default)" || echo "$(($1 / 1048576)) MiB"; }
mode_name() {
    case $1 in
    w) echo '`-w dump`' ;;
    m2) echo '`-m 2 -d db`' ;;
    m1) echo '`-d db` (mode 1)' ;;
    x1) echo '`-x -d db` (mode 1)' ;;
    x3) echo '`-x -m 3 -d db` (flows only)' ;;
    esac
}

say "# Live capacity on lo, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; kernel $(uname -r); libpcap $(dpkg-query -W -f '${Version}' libpcap0.8 2>/dev/null || echo '?')"
say "- bursts of $seconds s of 60-byte frames to one UDP port on lo, captured with \`-i lo -f 'udp port $port'\`"
say "- load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
say ""
say "| mode | kernel ring | highest rate without drops (datagrams/s) | onset: lowest rate with drops | drops there (printed) | packets analysed there |"
say "|---|---|---|---|---|---|"
for mode in $modes; do
    for ring in $rings; do
        clean=- onset=- onset_drops= onset_analysed= dropping=0
        for rate in $rates; do
            read -r achieved analysed drops <<<"$(burst "$ring" "$mode" "$rate")"
            echo "  $(mode_name "$mode"), ring $(ring_name "$ring"): $rate/s asked, $achieved/s sent, $analysed analysed, $drops dropped" >&2
            if ((drops == 0)); then
                clean=$achieved dropping=0 onset=- onset_drops= onset_analysed=
            else
                if ((dropping == 0)); then
                    onset=$achieved onset_drops=$drops onset_analysed=$analysed
                fi
                ((++dropping >= 2)) && break
            fi
        done
        say "| $(mode_name "$mode") | $(ring_name "$ring") | $clean | $onset | $onset_drops | $onset_analysed |"
    done
done
say ""
say "- load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$out"
echo "report saved in $report" >&2
