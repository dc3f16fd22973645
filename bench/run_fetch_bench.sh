#!/bin/sh
# Downloads files of 1 MB, 100 MB and 1 GB from nginx on a loopback port, and
# 100 MB bodies sent chunked and until close by bench/body_server.py, once with
# FetchHttpFile (bench/fetch_bench) and once with curl, in the same run.
# Prints the best wall time of a few runs for each, the throughput ratio
# (curl's time / ours: 1.0 is on par, 0.5 is half of curl's speed) and the
# peak memory of each process.
#   bench/run_fetch_bench.sh [build-dir]      (default: build)
# Needs nginx, curl, python3 and /usr/bin/time. Everything it makes lives in a
# temporary directory that is removed at the end, big files included.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target fetch_bench >/dev/null
bench="$PWD/$build/bench/fetch_bench"

work=$(mktemp -d /tmp/tavimor-bench-XXXXXX)
chmod 755 "$work"
nginx_pid=""
server_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_for_port() {
    i=0
    until curl -s -o /dev/null "http://127.0.0.1:$1/" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 100 ] || { echo "server on port $1 did not start" >&2; exit 1; }
        sleep 0.1
    done
}

now_ns() { date +%s%N; }

# run_one TOOL URL OUT: prints "seconds peak_kib" for one download.
run_one() {
    rm -f "$3"
    start=$(now_ns)
    if [ "$1" = fetch ]; then
        /usr/bin/time -f %M -o "$work/mem" "$bench" "$2" "$3" >/dev/null
    else
        /usr/bin/time -f %M -o "$work/mem" curl -s -f -o "$3" "$2"
    fi
    end=$(now_ns)
    echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$work/mem")"
}

# best TOOL URL OUT RUNS: the fastest of RUNS downloads, "milliseconds peak_kib".
best() {
    best_ms=""
    best_kib=0
    n=0
    while [ "$n" -lt "$4" ]; do
        set -- "$1" "$2" "$3" "$4" $(run_one "$1" "$2" "$3")
        if [ -z "$best_ms" ] || [ "$5" -lt "$best_ms" ]; then best_ms=$5; fi
        if [ "$6" -gt "$best_kib" ]; then best_kib=$6; fi
        n=$((n + 1))
    done
    echo "$best_ms $best_kib"
}

# compare LABEL URL RUNS [REFERENCE]: both tools, checked against REFERENCE (or
# against each other), one line of the table.
compare() {
    set -- "$1" "$2" "$3" $(best fetch "$2" "$work/ours" "$3") $(best curl "$2" "$work/curl" "$3") "${4:-}"
    reference=${8:-$work/curl}
    cmp -s "$work/ours" "$reference" || { echo "$1: FetchHttpFile saved different bytes" >&2; exit 1; }
    ratio=$(awk -v ours="$4" -v curl="$6" 'BEGIN { printf "%.2f", (ours > 0 ? curl / ours : 1) }')
    printf '%-22s %10s %10s %8s %12s %12s\n' "$1" "$4" "$6" "$ratio" "$5" "$7"
    rm -f "$work/ours" "$work/curl"
}

mkdir -p "$work/www" "$work/nginx"
echo "making the files to serve..."
head -c 1000000 /dev/urandom >"$work/www/1MB.bin"
head -c 100000000 /dev/urandom >"$work/www/100MB.bin"
head -c 1000000000 /dev/urandom >"$work/www/1GB.bin"
chmod 644 "$work/www/"*

port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
wait_for_port "$port"

printf '%-22s %10s %10s %8s %12s %12s\n' body ours_ms curl_ms ratio ours_peak_KiB curl_peak_KiB
base="http://127.0.0.1:$port"
compare "1 MB counted" "$base/1MB.bin" 5 "$work/www/1MB.bin"
compare "100 MB counted" "$base/100MB.bin" 3 "$work/www/100MB.bin"
compare "1 GB counted" "$base/1GB.bin" 2 "$work/www/1GB.bin"
kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""
rm -f "$work/www/"*

for mode in chunked close; do
    port=$(free_port)
    python3 bench/body_server.py "$port" 100000000 "$mode" &
    server_pid=$!
    wait_for_port "$port"
    compare "100 MB $mode" "http://127.0.0.1:$port/body" 3
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
done
