#!/bin/sh
# Downloads files of 1 MB, 100 MB and 1 GB from nginx on loopback, and 100 MB
# bodies sent chunked and until close by bench/body_server.py, each over http
# and over https, with FetchHttpFile (bench/fetch_bench) and with curl in turn,
# in the same run. Prints one table row per body and scheme: the median wall
# time of RUNS downloads of each tool (curl's first or ours first, alternately),
# the ratio curl/ours (1.0 is on par, above 1 is faster than curl), the highest
# peak memory of any run as /usr/bin/time saw it, and our process's own
# getrusage figure, and the fastest and slowest run of each tool, for the
# noise. Then says which targets were met.
#   bench/run_fetch_bench.sh [build-dir]      (default: build; RUNS=5)
# Installs nginx, curl and time when they are missing. A test CA and a server
# certificate for 127.0.0.1 are made here with openssl; curl trusts it through
# --cacert, our fetch through SSL_CERT_FILE. Everything it makes, big files
# and keys included, lives in a temporary directory removed at the end.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}

scripts/deps nginx curl time
. bench/common.sh
# The 1 GB file, and one copy from each tool while they are compared.
need_free_kib 3500000
build_fetch_bench

work=$(mktemp -d /tmp/tavimor-bench-XXXXXX)
chmod 755 "$work"
nginx_pid=""
server_pid=""
cleanup() {
    stop "$nginx_pid"
    stop "$server_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ca="$work/tls/ca.pem"

# Both tools speak HTTP/1.1: nginx would offer nothing else, but curl is told so.
curl_get() {
    curl -s -f --http1.1 --cacert "$ca" "$@"
}

wait_for() {
    i=0
    until curl_get -o /dev/null "$1" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 100 ] || { echo "no server answers $1" >&2; exit 1; }
        sleep 0.1
    done
}

# check_framing URL counted|chunked|close: the body really arrives framed so,
# through TLS as well. The download also warms the page cache for both tools.
check_framing() {
    head=$(curl -sv --http1.1 --cacert "$ca" -o /dev/null "$1" 2>&1 | tr -d '\r' |
        sed -n 's/^< //p' | tr '[:upper:]' '[:lower:]')
    case "$2" in
    counted) echo "$head" | grep -q '^content-length: ' && ! echo "$head" | grep -q '^transfer-encoding' ;;
    chunked) echo "$head" | grep -q '^transfer-encoding: chunked$' && ! echo "$head" | grep -q '^content-length' ;;
    close) ! echo "$head" | grep -q -e '^transfer-encoding' -e '^content-length' ;;
    esac || { echo "$1 does not arrive $2:" >&2; echo "$head" >&2; exit 1; }
}

now_ns() { date +%s%N; }

# run_one fetch|curl URL OUT: adds "milliseconds peak_kib own_kib" to
# $work/TOOL.runs (own_kib is fetch_bench's getrusage figure, 0 for curl).
run_one() {
    rm -f "$3"
    start=$(now_ns)
    if [ "$1" = fetch ]; then
        SSL_CERT_FILE="$ca" /usr/bin/time -f %M -o "$work/mem" "$bench" "$2" "$3" >"$work/said" ||
            { echo "FetchHttpFile failed on $2: $(cat "$work/said")" >&2; exit 1; }
        own=$(sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p' "$work/said")
    else
        /usr/bin/time -f %M -o "$work/mem" curl -s -f --http1.1 --cacert "$ca" -o "$3" "$2" ||
            { echo "curl failed on $2" >&2; exit 1; }
        own=0
    fi
    end=$(now_ns)
    echo "$(((end - start) / 1000000)) $(tail -n 1 "$work/mem") $own" >>"$work/$1.runs"
}

# median FILE COLUMN, highest FILE COLUMN and spread FILE (fastest-slowest) of the runs.
median() { cut -d ' ' -f "$2" "$1" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
highest() { cut -d ' ' -f "$2" "$1" | sort -n | tail -n 1; }
spread() { cut -d ' ' -f 1 "$1" | sort -n | awk 'NR == 1 { low = $1 } END { print low "-" $1 }'; }

row_format='%-8s %-7s %-6s %8s %8s %6s %14s %14s %13s %12s %12s\n'

# compare MODE SIZE SCHEME URL [REFERENCE]: both tools in turn, their last
# files checked against REFERENCE (or against each other), one table row.
compare() {
    rm -f "$work/fetch.runs" "$work/curl.runs"
    n=0
    while [ "$n" -lt "$runs" ]; do
        # Alternating who goes first spreads a slow spell of the machine over both.
        if [ $((n % 2)) -eq 0 ]; then
            run_one fetch "$4" "$work/ours"
            run_one curl "$4" "$work/curl"
        else
            run_one curl "$4" "$work/curl"
            run_one fetch "$4" "$work/ours"
        fi
        n=$((n + 1))
    done
    reference=${5:-$work/curl}
    cmp -s "$work/ours" "$reference" || { echo "$1 $2 $3: FetchHttpFile saved different bytes" >&2; exit 1; }
    cmp -s "$work/curl" "$reference" || { echo "$1 $2 $3: curl saved different bytes" >&2; exit 1; }
    ours_ms=$(median "$work/fetch.runs" 1)
    curl_ms=$(median "$work/curl.runs" 1)
    ratio=$(awk -v ours="$ours_ms" -v curl="$curl_ms" 'BEGIN { printf "%.2f", (ours > 0 ? curl / ours : 1) }')
    # shellcheck disable=SC2059
    printf "$row_format" "$1" "$2" "$3" "$ours_ms" "$curl_ms" "$ratio" \
        "$(highest "$work/fetch.runs" 2)" "$(highest "$work/curl.runs" 2)" \
        "$(highest "$work/fetch.runs" 3)" "$(spread "$work/fetch.runs")" \
        "$(spread "$work/curl.runs")" | tee -a "$work/table"
    rm -f "$work/ours" "$work/curl"
}

echo "making the test CA, the server certificate and the files to serve..."
mkdir -p "$work/www" "$work/tls"
(
    cd "$work/tls"
    key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
    # shellcheck disable=SC2086
    openssl req -x509 $key -keyout ca.key -out ca.pem -days 1 -subj "/CN=Tavimor bench CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
    # shellcheck disable=SC2086
    openssl req -new $key -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null
    echo "subjectAltName=IP:127.0.0.1" >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 1 \
        -extfile server.ext -out server.pem 2>/dev/null
)
head -c 1000000 /dev/urandom >"$work/www/1MB.bin"
head -c 100000000 /dev/urandom >"$work/www/100MB.bin"
head -c 1000000000 /dev/urandom >"$work/www/1GB.bin"
chmod 644 "$work/www/"*

port=$(free_port)
tls_port=$(free_port)
start_nginx "listen 127.0.0.1:$port;
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $work/tls/server.pem;
        ssl_certificate_key $work/tls/server.key;"
wait_for "http://127.0.0.1:$port/1MB.bin"
wait_for "https://127.0.0.1:$tls_port/1MB.bin"

echo "$runs downloads by each tool per row; times are medians, peaks the highest of any run"
# shellcheck disable=SC2059
printf "$row_format" mode size scheme ours_ms curl_ms ratio ours_peak_KiB curl_peak_KiB ours_self_KiB \
    ours_range curl_range
for size in 1MB 100MB 1GB; do
    for url in "http://127.0.0.1:$port" "https://127.0.0.1:$tls_port"; do
        check_framing "$url/$size.bin" counted
        compare counted "$size" "${url%%:*}" "$url/$size.bin" "$work/www/$size.bin"
    done
done
stop "$nginx_pid"
nginx_pid=""
rm -f "$work/www/"*

for mode in chunked close; do
    for scheme in http https; do
        port=$(free_port)
        if [ "$scheme" = https ]; then
            python3 bench/body_server.py "$port" 100000000 "$mode" "$work/tls/server.pem" "$work/tls/server.key" &
        else
            python3 bench/body_server.py "$port" 100000000 "$mode" &
        fi
        server_pid=$!
        url="$scheme://127.0.0.1:$port/body"
        wait_for "$url"
        check_framing "$url" "$mode"
        compare "$mode" 100MB "$scheme" "$url"
        stop "$server_pid"
        server_pid=""
    done
done

# Speed: on par with curl over http, within 10% of it over https, for the large
# bodies. Memory: a 1 GB body costs at most 1 MiB more than a 1 MB one.
echo
awk '
    $2 != "1MB" {
        floor = $3 == "http" ? 1.0 : 0.9
        verdict = $6 >= floor ? "met" : "MISSED"
        printf "speed  %-8s %-6s %-6s %.2fx curl (target %.1fx): %s\n", $1, $2, $3, $6, floor, verdict
    }
    $1 == "counted" && $2 == "1MB" { small[$3] = $7; small_own[$3] = $9 }
    $1 == "counted" && $2 == "1GB" { large[$3] = $7; large_own[$3] = $9 }
    END {
        for (scheme in large) {
            grown = large[scheme] - small[scheme]
            grown_own = large_own[scheme] - small_own[scheme]
            verdict = grown <= 1024 && grown_own <= 1024 ? "met" : "MISSED"
            printf "memory %-6s 1GB - 1MB peak: %d KiB (own figure %d KiB, target <= 1024): %s\n",
                scheme, grown, grown_own, verdict
        }
    }
' "$work/table"
