# Shell helpers the nginx benchmarks share, sourced from the project root. They
# read the scripts' build and work variables; each script keeps its own trap.

# Exits unless /tmp has at least $1 KiB free.
need_free_kib() {
    free_kib=$(df -Pk /tmp | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt "$1" ]; then
        echo "/tmp has $free_kib KiB free; the benchmark needs $1" >&2
        exit 1
    fi
}

# Builds bench/fetch_bench in $build and sets bench to its path.
build_fetch_bench() {
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" --target fetch_bench >/dev/null
    bench="$PWD/$build/bench/fetch_bench"
}

# Ends the process $1 and reaps it; an empty $1 does nothing.
stop() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts nginx in the foreground of a child, serving $work/www with everything it
# writes under $work/nginx; $1 holds the server block's own lines (listen...).
# Sets nginx_pid.
start_nginx() {
    mkdir -p "$work/nginx"
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    ssl_protocols TLSv1.2 TLSv1.3;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        $1
        root $work/www;
    }
}
CONF
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
}
