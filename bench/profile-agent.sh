#!/usr/bin/env bash
# Where the agent's time goes when it answers preflights, next to nginx doing the same work.
#
#   bench/profile-agent.sh
#
# Counts, for the agent and for nginx (one process), with the same load client and request:
#   - instructions per answer in user space (valgrind's callgrind), keep-alive and with a full
#     handshake per request; instruction counts do not depend on what else the machine runs;
#   - system calls per answer (strace -c), the same two ways;
# then lists the agent's functions with the highest inclusive and self cost. The callgrind files
# stay in the work folder for callgrind_annotate or kcachegrind.
#
# Environment (all optional), besides those of lib.sh:
#   BENCH_PROFILE_ANSWERS     keep-alive answers per profile (20000)
#   BENCH_PROFILE_HANDSHAKES  answers with a full handshake each (500)
set -euo pipefail
answers=${BENCH_PROFILE_ANSWERS:-20000}
handshakes=${BENCH_PROFILE_HANDSHAKES:-500}
source "$(dirname "$0")/lib.sh"

"$here/install-deps" valgrind strace
build_all
mkdir -p "$work/callgrind"

# run_load PORT EXPECTED MODE COUNT: COUNT answers, checked, with 10 connections.
run_load() {
  local port=$1 expect=$2 mode=$3 count=$4 extra=()
  [ "$mode" = reconnect ] && extra=(--header "Connection: close")
  "${pin_client[@]}" "$load" --port "$port" --connections 10 --max-answers "$count" \
    --seconds 600 --mode "$mode" --cacert "$ca" "${load_headers[@]}" "${extra[@]}" \
    --expect "$expect" --ignore-header Date >>"$work/profile-load.out" 2>>"$work/profile-load.err" ||
    die "the load on port $port failed: $work/profile-load.err"
}

# The nginx answers that the load is checked against: one keep-alive, one asked to close.
nginx_references() {
  "$load" --port "$nginx_port" --connections 1 --max-answers 1 "${load_headers[@]}" \
    --dump "$work/nginx-answer.txt" >/dev/null
  "$load" --port "$nginx_port" --connections 1 --max-answers 1 "${load_headers[@]}" \
    --header "Connection: close" --dump "$work/nginx-answer-close.txt" >/dev/null
}

total_instructions() { awk '/^(summary|totals):/ {print $2; exit}' "$1"; }

declare -A ir syscalls
# profile_callgrind SERVER: the server under callgrind, instrumented only while the load runs.
profile_callgrind() {
  local server=$1 pid port control_tmp out="$work/callgrind/$1"
  local valgrind=(valgrind --tool=callgrind --instr-atstart=no "--callgrind-out-file=$out.%p")
  say "callgrind: $server"
  if [ "$server" = agent ]; then
    start_agent "${valgrind[@]}"
    pid=$agent_pid port=$agent_port control_tmp="$agent_home/tmp"
    expect_ka="$work/agent-expected.txt" expect_close="$work/agent-expected.txt"
  else
    start_nginx single "${valgrind[@]}"
    pid=$nginx_pid port=$nginx_port control_tmp="$nginx_prefix/tmp"
    nginx_references
    expect_ka="$work/nginx-answer.txt" expect_close="$work/nginx-answer-close.txt"
  fi
  # callgrind_control finds the process through files in the process's own temp folder.
  TMPDIR="$control_tmp" callgrind_control -i on "$pid" >/dev/null
  run_load "$port" "$expect_ka" keepalive "$answers"
  TMPDIR="$control_tmp" callgrind_control -d keepalive "$pid" >/dev/null
  run_load "$port" "$expect_close" reconnect "$handshakes"
  TMPDIR="$control_tmp" callgrind_control -d handshake "$pid" >/dev/null
  [ "$server" = agent ] && stop_agent || stop_nginx
  # Dumps are numbered in order: .1 the keep-alive load, .2 the handshakes.
  ir[$server.ka]=$(total_instructions "$out.$pid.1")
  ir[$server.hs]=$(total_instructions "$out.$pid.2")
  ln -sf "$out.$pid.1" "$out.keepalive"
  ln -sf "$out.$pid.2" "$out.handshake"
}

# profile_strace SERVER: system calls of the server process while the load runs.
profile_strace() {
  local server=$1 pid port mode count tracer
  say "strace: $server"
  if [ "$server" = agent ]; then
    start_agent
    pid=$agent_pid port=$agent_port
    expect_ka="$work/agent-expected.txt" expect_close="$work/agent-expected.txt"
  else
    start_nginx single
    pid=$nginx_pid port=$nginx_port
    nginx_references
    expect_ka="$work/nginx-answer.txt" expect_close="$work/nginx-answer-close.txt"
  fi
  for mode in keepalive reconnect; do
    count=$answers expect=$expect_ka
    [ "$mode" = reconnect ] && count=$handshakes expect=$expect_close
    strace -c -f -p "$pid" -o "$work/strace-$server-$mode.txt" 2>/dev/null &
    tracer=$!
    sleep 1
    run_load "$port" "$expect" "$mode" "$count"
    kill -INT "$tracer"
    wait "$tracer" || true
    syscalls[$server.$mode]=$(awk '$NF == "total" {print $(NF-2)}' "$work/strace-$server-$mode.txt")
  done
  [ "$server" = agent ] && stop_agent || stop_nginx
}

# The busiest rows of callgrind_annotate: count, share, function without its arguments, object.
top_functions() {  # FILE inclusive|self COUNT
  local file=$1 kind=$2 count=$3 options=()
  [ "$kind" = inclusive ] && options=(--inclusive=yes)
  callgrind_annotate "${options[@]}" "$file" 2>/dev/null |
    perl -ne 'next if /PROGRAM TOTALS/;
      next unless /^\s*([\d,]+)\s+\(\s*([\d.]+%)\)\s+(?:[^:]*:)?(.*?)(?:\s+\[([^\]]*)\])?$/;
      my ($n, $p, $f, $o) = ($1, $2, $3, $4 // "");
      $f =~ s/\(anonymous namespace\)/{anon}/g; $f =~ s/\[abi:cxx11\]//g; $f =~ s/\(.*$//;
      $o =~ s#.*/##;
      printf "%14s %7s  %s  [%s]\n", $n, $p, $f, $o' |
    if [ "$kind" = inclusive ]; then
      # The event loop's frames down to the socket event handler carry everything; below it
      # the shares say where the work is.
      awk 'found {print} /HandleSocketEvent/ {found = 1}'
    else
      cat
    fi | awk -v n="$count" 'NR <= n'
}

for server in agent nginx; do
  profile_callgrind "$server"
  profile_strace "$server"
done

per() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.0f", a / b}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
{
  machine_line
  echo "Counted in user space by callgrind (the kernel's share is not in it) and by strace;"
  echo "10 connections; the keep-alive counts include each server's 10 first handshakes."
  echo
  echo "| load | agent instructions per answer | nginx | agent/nginx | agent syscalls per answer | nginx | agent/nginx |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  for mode in ka hs; do
    count=$answers name="keep-alive, $answers answers"
    [ "$mode" = hs ] && count=$handshakes name="full handshake per request, $handshakes answers"
    strace_mode=keepalive
    [ "$mode" = hs ] && strace_mode=reconnect
    echo "| $name | $(per "${ir[agent.$mode]}" "$count") | $(per "${ir[nginx.$mode]}" "$count") |" \
      "$(ratio "${ir[agent.$mode]}" "${ir[nginx.$mode]}") |" \
      "$(ratio "${syscalls[agent.$strace_mode]}" "$count") | $(ratio "${syscalls[nginx.$strace_mode]}" "$count") |" \
      "$(ratio "${syscalls[agent.$strace_mode]}" "${syscalls[nginx.$strace_mode]}") |"
  done
  for mode in keepalive handshake; do
    echo
    echo "Agent, $mode: top 10 by inclusive cost below HandleSocketEvent (instructions, share of all)"
    echo '```'
    top_functions "$work/callgrind/agent.$mode" inclusive 10
    echo '```'
    echo "Agent, $mode: top 10 by self cost"
    echo '```'
    top_functions "$work/callgrind/agent.$mode" self 10
    echo '```'
  done
  for server in agent nginx; do
    echo
    echo "$server system calls, keep-alive ($answers answers):"
    echo '```'
    sed -n '3,12p' "$work/strace-$server-keepalive.txt"
    echo '```'
  done
} | tee "$work/profile.md"
say "profiles and raw outputs: $work"
