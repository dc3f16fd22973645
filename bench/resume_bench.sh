#!/bin/sh
# Resume against nginx's own Range support: a 1 GB file fetched through
# bench/cut_proxy.py, which closes the connection after a random amount three
# times in all, with bench/fetch_bench fetching again after each break as the
# periodic checks would; then once more through the proxy without cuts. Prints
# the bytes the proxy carried to the client and the wall time of each, their
# ratio, and whether the target of at most 1.05x the bytes was met.
#   bench/resume_bench.sh [build-dir]      (default: build; SEED=n repeats a run)
# Everything it makes lives in a temporary directory removed at the end.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
seed=${SEED:-$$}

scripts/deps nginx
. bench/common.sh
need_free_kib 2500000
build_fetch_bench

work=$(mktemp -d /tmp/tavimor-resume-XXXXXX)
chmod 755 "$work"
nginx_pid=""
proxy_pid=""
cleanup() {
    stop "$proxy_pid"
    stop "$nginx_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for_port() {
    i=0
    until python3 -c "import socket; socket.create_connection(('127.0.0.1', $1)).close()" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 100 ] || { echo "nothing listens on $1" >&2; exit 1; }
        sleep 0.1
    done
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

mkdir -p "$work/www" "$work/out"
head -c 1000000000 /dev/urandom >"$work/www/1GB.bin"
chmod 644 "$work/www/1GB.bin"
port=$(free_port)
start_nginx "listen 127.0.0.1:$port;"
wait_for_port "$port"

# run CUTS: one download through a fresh proxy; prints "bytes milliseconds fetches cuts".
run() {
    proxy_port=$(free_port)
    python3 bench/cut_proxy.py "$proxy_port" "$port" "$1" "$work/stats" "$seed" &
    proxy_pid=$!
    wait_for_port "$proxy_port"
    rm -f "$work/out/1GB.bin"
    start=$(now_ms)
    "$bench" "http://127.0.0.1:$proxy_port/1GB.bin" "$work/out/1GB.bin" 10 >"$work/said" ||
        { cat "$work/said" >&2; echo "the download never completed" >&2; exit 1; }
    end=$(now_ms)
    sleep 0.2  # the proxy writes its figures once the connection has closed
    stop "$proxy_pid"
    proxy_pid=""
    cmp -s "$work/out/1GB.bin" "$work/www/1GB.bin" || { echo "the file differs from nginx's" >&2; exit 1; }
    [ ! -e "$work/out/1GB.bin.part" ] || { echo "a part was left behind" >&2; exit 1; }
    [ "$1" -eq 0 ] || sed -n 's/^fetch/    fetch/p' "$work/said" >&2
    bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' "$work/stats")
    cuts=$(sed -n 's/.*cuts=\([0-9]*\).*/\1/p' "$work/stats")
    fetches=$(sed -n 's/.*fetches=\([0-9]*\).*/\1/p' "$work/said")
    echo "$bytes $((end - start)) $fetches $cuts"
}

# The uninterrupted run goes first, so that it pays for a cold page cache.
set -- $(run 0)
whole_bytes=$1 whole_ms=$2
echo "seed $seed; the cut run's fetches:" >&2
set -- $(run 3)
cut_bytes=$1 cut_ms=$2 cut_fetches=$3 cuts=$4
stop "$nginx_pid"
nginx_pid=""

printf '%-14s %14s %10s %8s %5s\n' run bytes ms fetches cuts
printf '%-14s %14s %10s %8s %5s\n' uninterrupted "$whole_bytes" "$whole_ms" 1 0
printf '%-14s %14s %10s %8s %5s\n' "cut $cuts times" "$cut_bytes" "$cut_ms" "$cut_fetches" "$cuts"
awk -v c="$cut_bytes" -v w="$whole_bytes" -v ct="$cut_ms" -v wt="$whole_ms" 'BEGIN {
    printf "bytes %.4fx, wall time %.2fx: target of at most 1.05x the bytes %s\n",
        c / w, (wt > 0 ? ct / wt : 0), (c <= 1.05 * w ? "met" : "NOT met")
}'
