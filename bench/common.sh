# Sourced by the benchmarks.

# bench_folders NAME makes $work (under TMPDIR) and $out, where fetched files go: memory when
# there is a memory file system, since the write-back of earlier runs to disk would otherwise
# land in the middle of later ones. Both go, and nginx stops, when the script ends.
bench_folders() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
    out=""
    nginx_pid=""
    trap bench_cleanup EXIT
    mkdir -p "$work/www" "$work/nginx/logs"
    if [ -d /dev/shm ] && [ -w /dev/shm ]; then
        out=$(mktemp -d "/dev/shm/$1-out-XXXXXX")
    else
        out=$work/out
        mkdir -p "$out"
    fi
}

bench_cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work" "$out"
}

# start_nginx WORK WWW PORT PROBE_URL starts nginx on 127.0.0.1:PORT
# serving the folder WWW, with its own files under WORK/nginx, waits until PROBE_URL answers
# (through $curl_bin), and sets nginx_pid for the caller's cleanup.
start_nginx() {
    local work=$1 www=$2 port=$3 probe=$4
    local user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="user root root;"
    mkdir -p "$work/nginx/logs"
    cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
$user_line
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    types { }
    default_type application/octet-stream;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $www;
        location / { }
    }
}
EOF
    /usr/sbin/nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" \
        >"$work/nginx/logs/stderr.log" 2>&1 &
    nginx_pid=$!
    for _ in $(seq 1 500); do
        "$curl_bin" -s -o /dev/null "$probe" && return 0
        kill -0 "$nginx_pid" 2>/dev/null || { cat "$work/nginx/logs/"*.log >&2; exit 1; }
        sleep 0.01
    done
}
