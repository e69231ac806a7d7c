#!/usr/bin/env bash
# Preflight (OPTIONS) load on the agent and on nginx, on this machine, in one run.
#
#   bench/run-preflight.sh
#
# Builds the agent (Release) and the load client, starts a private agent and a private nginx
# (one worker), checks that both answer as expected, then measures BENCH_ROUNDS rounds of:
#   keep-alive with keepalive_load and with wrk; a new connection per request with a full
#   handshake, with a resumed session (keepalive_load), and with wrk's "Connection: close";
#   openssl speed rsa2048 on the servers' CPU.
# Prints the machine line and a markdown table (also left in the work folder as results.md).
#
# Environment (all optional), besides those of lib.sh:
#   BENCH_SECONDS      seconds per measurement (10)
#   BENCH_ROUNDS       rounds of the whole set (2)
#   BENCH_CONNECTIONS  connections per measurement (10)
#   BENCH_QUIET_WAIT   seconds to wait, before each measurement, for the machine to be quiet (120)
set -euo pipefail
seconds=${BENCH_SECONDS:-10}
rounds=${BENCH_ROUNDS:-2}
connections=${BENCH_CONNECTIONS:-10}
quiet_wait=${BENCH_QUIET_WAIT:-120}
source "$(dirname "$0")/lib.sh"

"$here/install-deps"
build_all
clock_ticks=$(getconf CLK_TCK)

# CPU ticks (user + system) of processes and their children.
process_ticks() {
  local total=0 pid child fields
  for pid in "$@"; do
    for child in $pid $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do
      fields=$(sed 's/^.*) //' "/proc/$child/stat" 2>/dev/null) || continue
      total=$((total + $(echo "$fields" | awk '{print $12 + $13}')))
    done
  done
  echo "$total"
}

# Busy ticks (user, nice, system, irq, softirq), steal ticks and all ticks of the machine.
machine_ticks() {
  awk '/^cpu / {print $2+$3+$4+$7+$8, $9, $2+$3+$4+$5+$6+$7+$8+$9}' /proc/stat
}

passive_opens() {
  awk '/^Tcp:/ {if (!n) {for (i = 1; i <= NF; i++) if ($i == "PassiveOpens") c = i; n = 1}
                else print $c}' /proc/net/snmp
}

# measure KEY SERVER_PID COMMAND...: runs the client command and keeps what it printed, the
# server's CPU time, the client's CPU time, the connections accepted and the other load.
declare -A result
measure() {
  local key=$1 server_pid=$2
  shift 2
  local out="$work/$key"
  local ticks_before opens_before machine_before ticks_after opens_after machine_after
  ticks_before=$(process_ticks "$server_pid")
  opens_before=$(passive_opens)
  machine_before=$(machine_ticks)
  local TIMEFORMAT='%3U %3S'
  { time "$@" >"$out.out" 2>"$out.err"; } 2>"$out.time" || true
  ticks_after=$(process_ticks "$server_pid")
  opens_after=$(passive_opens)
  machine_after=$(machine_ticks)
  result[$key.server_cpu_s]=$(awk -v a="$ticks_before" -v b="$ticks_after" -v t="$clock_ticks" \
    'BEGIN {printf "%.3f", (b - a) / t}')
  result[$key.opens]=$((opens_after - opens_before))
  local client_cpu_s
  client_cpu_s=$(awk '{print $1 + $2}' "$out.time")
  # Share of all CPU time that went neither to the client nor to the server: other programs,
  # the kernel's own threads, and time the hypervisor took (steal).
  result[$key.other_pct]=$(echo "$machine_before $machine_after" | awk -v s="${result[$key.server_cpu_s]}" \
    -v c="$client_cpu_s" -v t="$clock_ticks" '{
      busy = $4 - $1; steal = $5 - $2; all = $6 - $3
      other = busy + steal - (s + c) * t
      if (other < 0) other = 0
      printf "%.0f", (all > 0 ? 100 * other / all : 0) }')
}

# Waits until the machine is quiet (under 10 % of all CPU busy over 2 s, the idle servers
# included) or quiet_wait seconds have gone; counts the measurements that began on a busy one.
busy_starts=0
wait_quiet() {
  local waited=0 before after busy
  while :; do
    before=$(machine_ticks)
    sleep 2
    after=$(machine_ticks)
    busy=$(echo "$before $after" | awk '{all = $6 - $3; printf "%.0f", (all > 0 ? 100 * ($4 - $1 + $5 - $2) / all : 0)}')
    [ "$busy" -lt 10 ] && return 0
    waited=$((waited + 2))
    if [ "$waited" -ge "$quiet_wait" ]; then
      busy_starts=$((busy_starts + 1))
      return 0
    fi
    [ "$waited" -eq 2 ] && say "waiting for the machine to be quiet ($busy % busy)"
    sleep 3
    waited=$((waited + 3))
  done
}

kv() { grep -o "\b$2=[^ ]*" "$work/$1.out" | tail -1 | cut -d= -f2; }

# Reads a keepalive_load measurement into result[].
take_load() {
  local key=$1
  result[$key.rps]=$(kv "$key" rps)
  result[$key.answers]=$(kv "$key" answers)
  result[$key.p50]=$(kv "$key" p50_ms)
  result[$key.p99]=$(kv "$key" p99_ms)
  result[$key.errors]=$(($(kv "$key" errors) + $(kv "$key" mismatches)))
  result[$key.cipher]="$(kv "$key" protocol) $(kv "$key" cipher) $(kv "$key" group)"
  [ -n "${result[$key.rps]}" ] || die "keepalive_load printed no result: $work/$key.err"
}

# wrk's latencies ("850.00us", "1.02ms", "1.20s") in milliseconds.
wrk_ms() {
  awk -v p="$2" '$1 == p {v = $2; f = 1
      if (v ~ /us$/) f = 0.001; else if (v ~ /ms$/) f = 1; else if (v ~ /m$/) f = 60000
      else if (v ~ /s$/) f = 1000
      sub(/[a-z]+$/, "", v); printf "%.3f", v * f}' "$work/$1.out"
}

take_wrk() {
  local key=$1 socket non2xx
  result[$key.rps]=$(awk '/^Requests\/sec:/ {printf "%.1f", $2}' "$work/$key.out")
  result[$key.answers]=$(awk '/requests in/ {print $1}' "$work/$key.out")
  result[$key.p50]=$(wrk_ms "$key" 50%)
  result[$key.p99]=$(wrk_ms "$key" 99%)
  socket=$(awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8 + $10}' "$work/$key.out")
  non2xx=$(awk '/Non-2xx/ {print $NF}' "$work/$key.out")
  result[$key.errors]=$((${socket:-0} + ${non2xx:-0}))
  result[$key.cipher]="-"
  [ -n "${result[$key.rps]}" ] || die "wrk printed no result: $work/$key.out $work/$key.err"
}

say "starting the agent and nginx"
start_agent
start_nginx
say "agent: pid $agent_pid, port $agent_port; nginx: pid $nginx_pid, ports $nginx_port and $nginx_log_port"

# First answers: the agent's must be exactly the expected bytes, whether the request asks to
# close or not; nginx's are the references for the rest of the run (its Date header aside): one
# for requests that keep the connection, one for those that ask to close it.
first_answer() {  # port dump-file extra-options...
  local port=$1 dump=$2
  shift 2
  "$load" --port "$port" --connections 1 --max-answers 1 --cacert "$ca" "${load_headers[@]}" \
    "$@" --dump "$dump" >/dev/null || die "no answer on port $port"
}
for close in "" "Connection: close"; do
  first_answer "$agent_port" "$work/agent-answer.txt" ${close:+--header "$close"}
  cmp -s "$work/agent-answer.txt" "$work/agent-expected.txt" ||
    die "the agent's answer is not the expected one: $work/agent-answer.txt"
done
first_answer "$nginx_port" "$work/nginx-answer.txt"
first_answer "$nginx_port" "$work/nginx-answer-close.txt" --header "Connection: close"
for answer in nginx-answer nginx-answer-close; do
  connection="Connection: keep-alive"
  [ "$answer" = nginx-answer-close ] && connection="Connection: close"
  for line in "HTTP/1.1 200 OK" "Content-Type: text/plain" "Content-Length: 11" "$connection" \
    "Access-Control-Allow-Origin: * " "Access-Control-Allow-Methods: POST, GET, OPTIONS" \
    "Access-Control-Allow-Headers: X-PINGOTHER" "Access-Control-Allow-Private-Network: true"; do
    grep -qxF "$line"$'\r' "$work/$answer.txt" || die "nginx's answer lacks '$line': $work/$answer.txt"
  done
  [ "$(tail -c 11 "$work/$answer.txt")" = "||-1||OKK||" ] || die "nginx's body is not ||-1||OKK||"
done

# What wrk does after "Connection: close": nginx's twin server logs whether each session was
# resumed ("r") or new (".").
: >"$work/nginx/reuse.log"
wrk -t1 -c2 -d2s -H "Connection: close" -s "$work/preflight.lua" \
  "https://127.0.0.1:$nginx_log_port/" >"$work/wrk-reuse-check.out" 2>&1 || true
sleep 0.5
wrk_resumed=$(grep -c '^r ' "$work/nginx/reuse.log" || true)
wrk_handshakes=$(wc -l <"$work/nginx/reuse.log")
wrk_tls=$(awk '{print $2, $3}' "$work/nginx/reuse.log" | sort | uniq -c | sort -rn | head -1 | awk '{print $2, $3}')

# ---------------------------------------------------------------- measurements
declare -A server_pid=([agent]=$agent_pid [nginx]=$nginx_pid)
declare -A server_port=([agent]=$agent_port [nginx]=$nginx_port)
declare -A expected=([agent]="$work/agent-expected.txt" [nginx]="$work/nginx-answer.txt")
declare -A expected_close=([agent]="$work/agent-expected.txt" [nginx]="$work/nginx-answer-close.txt")
tests=(ka-load ka-wrk full-load resumed-load close-wrk)
declare -A test_name=(
  [ka-load]="keep-alive, keepalive_load"
  [ka-wrk]="keep-alive asked, wrk"
  [full-load]="new connection per request, full handshake, keepalive_load"
  [resumed-load]="new connection per request, resumed session, keepalive_load"
  [close-wrk]="wrk -H 'Connection: close'"
)

for round in $(seq "$rounds"); do
  # Odd rounds measure the agent first, even rounds nginx first.
  order=(agent nginx)
  [ $((round % 2)) -eq 0 ] && order=(nginx agent)
  for test in "${tests[@]}"; do
    for server in "${order[@]}"; do
      key="r$round.$test.$server"
      port=${server_port[$server]}
      wait_quiet
      say "round $round: ${test_name[$test]} against $server"
      case $test in
        ka-load | full-load | resumed-load)
          mode=keepalive
          extra=(--expect "${expected[$server]}")
          if [ "$test" != ka-load ]; then
            mode=reconnect
            extra=(--header "Connection: close" --expect "${expected_close[$server]}")
          fi
          [ "$test" = resumed-load ] && extra+=(--resume yes)
          measure "$key" "${server_pid[$server]}" "${pin_client[@]}" "$load" --port "$port" \
            --connections "$connections" --seconds "$seconds" --mode "$mode" --cacert "$ca" \
            "${load_headers[@]}" "${extra[@]}" --ignore-header Date
          take_load "$key"
          ;;
        ka-wrk | close-wrk)
          extra=()
          [ "$test" = close-wrk ] && extra=(-H "Connection: close")
          measure "$key" "${server_pid[$server]}" "${pin_client[@]}" wrk -t1 -c"$connections" \
            -d"${seconds}s" --latency "${extra[@]}" -s "$work/preflight.lua" \
            "https://127.0.0.1:$port/"
          take_wrk "$key"
          ;;
      esac
    done
  done
  wait_quiet
  say "round $round: openssl speed rsa2048"
  "${pin_server[@]}" openssl speed -seconds 3 rsa2048 >"$work/r$round.speed.out" 2>/dev/null
  result[r$round.sign]=$(awk '/^rsa 2048 bits/ {print $6}' "$work/r$round.speed.out")
done

# ---------------------------------------------------------------- table
{
  machine_line
  echo "Pinning: $pinning. $connections connections, ${seconds} s per measurement, $rounds rounds."
  echo "TLS: keepalive_load with the agent ${result[r1.ka-load.agent.cipher]}, with nginx ${result[r1.ka-load.nginx.cipher]}; wrk with nginx ${wrk_tls:-?}."
  echo
  echo "| round | test | server | req/s | agent/nginx | p50 ms | p99 ms | TCP conns per answer | server CPU µs per answer | agent/nginx by CPU | of RSA sign/s | other load | errors |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  for round in $(seq "$rounds"); do
    for test in "${tests[@]}"; do
      for server in agent nginx; do
        key="r$round.$test.$server"
        ratio="" cpu_ratio="" share=""
        if [ "$server" = agent ]; then
          nginx_key="r$round.$test.nginx"
          ratio=$(awk -v a="${result[$key.rps]}" -v n="${result[$nginx_key.rps]}" \
            'BEGIN {printf "%.2f", (n > 0 ? a / n : 0)}')
          # What the req/s ratio would be if each server had its CPU to itself: nginx's CPU
          # time per answer over the agent's.
          cpu_ratio=$(awk -v ac="${result[$key.server_cpu_s]}" -v aa="${result[$key.answers]}" \
            -v nc="${result[$nginx_key.server_cpu_s]}" -v na="${result[$nginx_key.answers]}" \
            'BEGIN {printf "%.2f", (ac > 0 && na > 0 ? (nc / na) / (ac / aa) : 0)}')
        fi
        case $test in full-load | resumed-load | close-wrk)
          share=$(awk -v a="${result[$key.rps]}" -v s="${result[r$round.sign]}" \
            'BEGIN {printf "%.0f%%", (s > 0 ? 100 * a / s : 0)}') ;;
        esac
        awk -v round="$round" -v test="${test_name[$test]}" -v server="$server" \
          -v rps="${result[$key.rps]}" -v ratio="$ratio" -v p50="${result[$key.p50]}" \
          -v p99="${result[$key.p99]}" -v opens="${result[$key.opens]}" \
          -v answers="${result[$key.answers]}" -v cpu="${result[$key.server_cpu_s]}" \
          -v cpu_ratio="$cpu_ratio" -v share="$share" -v other="${result[$key.other_pct]}" -v errors="${result[$key.errors]}" \
          'BEGIN {
            per_answer = 0; cpu_per_answer = 0
            if (answers > 0) { per_answer = opens / answers; cpu_per_answer = 1e6 * cpu / answers }
            printf "| %s | %s | %s | %.0f | %s | %.3f | %.3f | %.2f | %.0f | %s | %s | %s%% | %s |\n",
              round, test, server, rps, ratio, p50, p99, per_answer, cpu_per_answer, cpu_ratio,
              share, other, errors }'
      done
    done
    echo "| $round | openssl speed rsa2048, one core | - | ${result[r$round.sign]} sign/s | | | | | | | 100% | | |"
  done
  echo
  [ "$busy_starts" -eq 0 ] ||
    echo "$busy_starts measurements began after ${quiet_wait} s of waiting for a quiet machine in vain."
  echo "wrk after 'Connection: close': $wrk_resumed of $wrk_handshakes handshakes resumed a session (nginx \$ssl_session_reused)."
} | tee "$work/results.md"
say "results and raw outputs: $work"
