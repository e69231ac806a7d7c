# Shared by the bench scripts: building, the private agent and nginx, the preflight request and
# the agent's expected answer. Sourced, not run.
#
# Environment (all optional):
#   BENCH_SOURCE       the source tree whose agent is measured (this repository)
#   BENCH_BUILD        agent build folder (/tmp/b-bench)
#   BENCH_TOOLS        load client build folder (/tmp/b-bench-tools)
#   BENCH_NGINX_PORT   nginx's measured port (64443); the port after it is nginx's logging twin
#   BENCH_WORK         work folder (default: a new one under /tmp, left in place afterwards)

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
source_tree=${BENCH_SOURCE:-$top}
build=${BENCH_BUILD:-/tmp/b-bench}
tools=${BENCH_TOOLS:-/tmp/b-bench-tools}
nginx_port=${BENCH_NGINX_PORT:-64443}
nginx_log_port=$((nginx_port + 1))
work=${BENCH_WORK:-$(mktemp -d /tmp/ostrabel-bench.XXXXXX)}
mkdir -p "$work"
ca="$top/agent/resources/dev/QORV.crt"
cert_pem="$top/agent/resources/dev/localhost.crt.pem"
key_pem="$top/agent/resources/dev/localhost.key.pem"
agent_bin="$build/agent/shell/DorvikaOstrabel"
load="$tools/keepalive_load"

say() { echo "== $*" >&2; }
die() {
  echo "${0##*/}: $*" >&2
  exit 1
}

build_all() {
  say "building the agent of $source_tree in $build and the load client in $tools"
  cmake -S "$source_tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DOSTRABEL_BUILD_TESTS=OFF >"$work/cmake-agent.log" ||
    die "agent configuration failed: $work/cmake-agent.log"
  ninja -C "$build" DorvikaOstrabel >"$work/ninja-agent.log" ||
    die "agent build failed: $work/ninja-agent.log"
  cmake -S "$here" -B "$tools" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/cmake-tools.log" ||
    die "load client configuration failed: $work/cmake-tools.log"
  cmake --build "$tools" >"$work/build-tools.log" ||
    die "load client build failed: $work/build-tools.log"
}

# The load tool on one core, the servers on another, when there are two.
if [ "$(nproc)" -ge 2 ]; then
  pin_client=(taskset -c 0)
  pin_server=(taskset -c 1)
  pinning="load tool on CPU 0, servers and openssl speed on CPU 1 (taskset)"
else
  pin_client=()
  pin_server=()
  pinning="one CPU: nothing pinned"
fi

machine_line() {
  local model
  model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
  echo "Machine: ${model:-unknown CPU}, $(nproc) cores, Linux $(uname -r)," \
    "$(openssl version | cut -d' ' -f1-2), $(nginx -v 2>&1 | sed 's/^nginx version: //')," \
    "wrk $(dpkg-query -W -f='${Version}' wrk 2>/dev/null)"
}

# ---------------------------------------------------------------- servers
agent_pid=""
nginx_pid=""
stop_agent() {
  if [ -n "$agent_pid" ]; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
    agent_pid=""
  fi
}
stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill -QUIT "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
stop_servers() {
  stop_agent
  stop_nginx
}
trap stop_servers EXIT

port_in_use() { ss -Htln "sport = :$1" | grep -q .; }

# listening_port PID SECONDS: the TCP port the process listens on, once it does.
listening_port() {
  local pid=$1 tries=$(($2 * 10)) address
  for _ in $(seq "$tries"); do
    address=$(ss -Htlnp | grep "pid=$pid," | awk '{print $4}' | head -1 || true)
    if [ -n "$address" ]; then
      echo "${address##*:}"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# start_agent [WRAPPER...]: the agent (under the wrapper, valgrind say) on the server CPU. Sets
# agent_pid, agent_port and agent_home.
start_agent() {
  # A private runtime folder (the single-instance lock), temp folder and home (the browser
  # trust import), so that this agent neither meets another running one nor touches a profile.
  agent_home="$work/agent"
  mkdir -p "$agent_home/tmp"
  chmod 700 "$agent_home"
  (cd "$agent_home" && exec env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$agent_home" \
    TMPDIR="$agent_home/tmp" HOME="$agent_home" "${pin_server[@]}" "$@" "$agent_bin") \
    >"$agent_home/output.log" 2>&1 &
  agent_pid=$!
  agent_port=$(listening_port "$agent_pid" 60) || die "the agent did not start: $agent_home/output.log"
}

# start_nginx [single] [WRAPPER...]: nginx on the server CPU, from a private prefix. "single"
# runs one process without a master (for valgrind); otherwise a master and one worker. Sets
# nginx_pid and nginx_prefix.
start_nginx() {
  local master=on
  if [ "${1:-}" = single ]; then
    master=off
    shift
  fi
  port_in_use "$nginx_port" && die "port $nginx_port is taken (BENCH_NGINX_PORT chooses another)"
  port_in_use "$nginx_log_port" && die "port $nginx_log_port is taken"
  nginx_prefix="$work/nginx"
  mkdir -p "$nginx_prefix/temp"
  local prefix=$nginx_prefix
  cat >"$prefix/nginx.conf" <<EOF
# One worker answering every request like the agent answers a preflight.
worker_processes 1;
master_process $master;
daemon off;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $prefix/temp/body;
  proxy_temp_path $prefix/temp/proxy;
  fastcgi_temp_path $prefix/temp/fastcgi;
  uwsgi_temp_path $prefix/temp/uwsgi;
  scgi_temp_path $prefix/temp/scgi;
  # The agent never ends a connection; nginx would after 1000 requests.
  keepalive_requests 1000000000;
  # nginx 1.22 leaves TLS 1.3 out unless it is named; this is OpenSSL's own default range.
  # Ciphers and groups stay at their defaults.
  ssl_protocols TLSv1.2 TLSv1.3;
  ssl_certificate $cert_pem;
  ssl_certificate_key $key_pem;
  default_type text/plain;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    location / {
      add_header Access-Control-Allow-Origin "* " always;
      add_header Access-Control-Allow-Methods "POST, GET, OPTIONS" always;
      add_header Access-Control-Allow-Headers "X-PINGOTHER" always;
      add_header Access-Control-Allow-Private-Network "true" always;
      return 200 "||-1||OKK||";
    }
  }
  # The same answer, with each request's session reuse logged: only for the resumption check.
  log_format reuse "\$ssl_session_reused \$ssl_protocol \$ssl_cipher";
  server {
    listen 127.0.0.1:$nginx_log_port ssl;
    access_log $prefix/reuse.log reuse;
    location / {
      return 200 "||-1||OKK||";
    }
  }
}
EOF
  mkdir -p "$prefix/tmp"
  TMPDIR="$prefix/tmp" "${pin_server[@]}" "$@" nginx -p "$prefix" -c "$prefix/nginx.conf" \
    -e "$prefix/error.log" >"$prefix/output.log" 2>&1 &
  nginx_pid=$!
  listening_port "$nginx_pid" 60 >/dev/null || die "nginx did not start: $prefix/error.log"
}

# ---------------------------------------------------------------- request and answers
# A browser's preflight for a cross-origin POST to a private address; every client sends it.
preflight_headers=(
  "Origin: https://portal.example"
  "Access-Control-Request-Method: POST"
  "Access-Control-Request-Headers: content-type"
  "Access-Control-Request-Private-Network: true"
)
load_headers=()
for header in "${preflight_headers[@]}"; do
  load_headers+=(--header "$header")
done
{
  echo 'wrk.method = "OPTIONS"'
  for header in "${preflight_headers[@]}"; do
    echo "wrk.headers[\"${header%%: *}\"] = \"${header#*: }\""
  done
} >"$work/preflight.lua"

# The agent's answer to a preflight, byte for byte.
printf '%s\r\n' "HTTP/1.0 200 OK" "Server: Apache/2.0.61 (Unix)" "Access-Control-Allow-Origin: * " \
  "Access-Control-Allow-Methods: POST, GET, OPTIONS" "Access-Control-Allow-Headers: X-PINGOTHER" \
  "Access-Control-Allow-Private-Network: true" "Content-Type: text/plain" "Content-Length: 11" "" \
  >"$work/agent-expected.txt"
printf '||-1||OKK||' >>"$work/agent-expected.txt"
